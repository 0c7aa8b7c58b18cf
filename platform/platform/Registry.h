#pragma once
// Read-only access to the system registry: open a key, query one value,
// close the key. The caller does everything else (which hive, buffer sizes,
// value types, text conversion).
//
// On Windows this is RegOpenKeyExW / RegQueryValueExW / RegCloseKey. Linux has
// no registry: a test hands the layer a store (testing::SetRegistryStore);
// with none every key fails to open. testsupport/RegistryStores.h
// has the stores the tests use: a JSON file and an in-memory store.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class RegistryHive {
    CurrentUser,
    LocalMachine,
    ClassesRoot,
};

// Value types, numbered as Windows numbers them.
namespace RegistryType {
constexpr uint32_t None = 0;
constexpr uint32_t String = 1;       // REG_SZ
constexpr uint32_t ExpandString = 2; // REG_EXPAND_SZ
constexpr uint32_t Binary = 3;
constexpr uint32_t Dword = 4;
constexpr uint32_t DwordBigEndian = 5;
constexpr uint32_t Link = 6;
constexpr uint32_t MultiString = 7;
constexpr uint32_t Qword = 11;
} // namespace RegistryType

enum class RegistryStatus {
    Ok,
    NotFound, // no such key or value
    MoreData, // the value's data does not fit the buffer
    Failed,   // anything else
};

// An open key; close it with CloseRegistryKey.
struct RegistryKey;

// Opens hive\subKey for reading. Sub-key parts are separated by '\'; an empty
// sub-key opens the hive itself.
RegistryStatus OpenRegistryKey(RegistryHive hive, const std::wstring& subKey, RegistryKey*& key);

// Reads one value of an open key; an empty name reads the key's default value.
// `size` gives the capacity of `data` in bytes and receives the size of the
// value's data. When the data does not fit, the answer is MoreData, `size` is
// the size needed and `data` is not written; `type` is set in both cases.
RegistryStatus QueryRegistryValue(RegistryKey* key, const std::wstring& valueName, uint32_t& type, uint8_t* data,
                                  uint32_t& size);

void CloseRegistryKey(RegistryKey* key);

namespace testing {
// Test seam: what answers in place of the system registry. The application
// never sets one.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    // Ok when hive\subKey exists, else NotFound.
    virtual RegistryStatus OpenKey(RegistryHive hive, const std::wstring& subKey) = 0;
    // As QueryRegistryValue, for the key hive\subKey.
    virtual RegistryStatus QueryValue(RegistryHive hive, const std::wstring& subKey, const std::wstring& valueName,
                                      uint32_t& type, uint8_t* data, uint32_t& size) = 0;
};

// Makes the registry answer from `store` (null: no store, every key fails to
// open). A key opened before is read from the store set at query time.
void SetRegistryStore(std::shared_ptr<RegistryStore> store);
} // namespace testing

} // namespace platform
