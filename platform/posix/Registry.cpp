// The registry on this platform: only what a test hands over (see
// platform/Registry.h); without a store every key fails to open.

#include "platform/Registry.h"

#include <mutex>
#include <utility>

namespace platform {

struct RegistryKey {
    RegistryHive hive;
    std::wstring subKey;
};

namespace {

std::mutex storeMutex;
std::shared_ptr<testing::RegistryStore> currentStore;

std::shared_ptr<testing::RegistryStore> Store()
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return currentStore;
}

} // namespace

RegistryStatus OpenRegistryKey(RegistryHive hive, const std::wstring& subKey, RegistryKey*& key)
{
    key = nullptr;
    const std::shared_ptr<testing::RegistryStore> store = Store();
    if (!store || store->OpenKey(hive, subKey) != RegistryStatus::Ok)
        return RegistryStatus::NotFound;
    key = new RegistryKey{hive, subKey};
    return RegistryStatus::Ok;
}

RegistryStatus QueryRegistryValue(RegistryKey* key, const std::wstring& valueName, uint32_t& type, uint8_t* data,
                                  uint32_t& size)
{
    if (key == nullptr)
        return RegistryStatus::Failed;
    const std::shared_ptr<testing::RegistryStore> store = Store();
    if (!store)
        return RegistryStatus::NotFound;
    return store->QueryValue(key->hive, key->subKey, valueName, type, data, size);
}

void CloseRegistryKey(RegistryKey* key)
{
    delete key;
}

namespace testing {

void SetRegistryStore(std::shared_ptr<RegistryStore> store)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    currentStore = std::move(store);
}

} // namespace testing
} // namespace platform
