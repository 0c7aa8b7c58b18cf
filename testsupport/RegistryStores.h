#pragma once
// The registry stores tests hand to the layer (platform/Registry.h): a JSON
// store file or an in-memory store. Test code only.
//
// JSON store file, read again on every call, so a change is seen at once:
//
//   {
//     "HKEY_LOCAL_MACHINE": {
//       "SOFTWARE\\Vendor\\Product": {
//         "InstallDir": "/opt/Vendor/Product",
//         "": "the key's default value",
//         "Expanded": { "type": "REG_EXPAND_SZ", "data": "%ProgramFiles%\\Product" },
//         "Count":    { "type": "REG_DWORD", "data": 5 },
//         "Raw":      { "type": "REG_SZ", "hex": "41004200" }
//       },
//       "SOFTWARE\\Vendor\\Empty Key": {}
//     },
//     "HKEY_CURRENT_USER": { ... },
//     "HKEY_CLASSES_ROOT": { ... }
//   }
//
// - Root members are hives: "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
//   "HKEY_CLASSES_ROOT" (letter case ignored); other members are ignored.
// - A hive maps key paths to objects of values. Key path parts are separated
//   by '\' (written "\\" in JSON); a key exists when it is listed or when a
//   listed key lies below it. Key paths equal apart from letter case are one
//   key.
// - Value name "" is the key's default value. Key and value names are matched
//   with letter case ignored.
// - A value is a JSON string (REG_SZ), a JSON integer (REG_DWORD) or an object
//   with "type" and either "data" or "hex":
//     "type": "REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
//             "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_QWORD",
//             or the type's number;
//     "data": text for REG_SZ, REG_EXPAND_SZ and REG_LINK (stored as UTF-16LE
//             with a terminating NUL), an array of texts for REG_MULTI_SZ,
//             an integer for REG_DWORD, REG_DWORD_BIG_ENDIAN and REG_QWORD,
//             hexadecimal digits for the other types;
//     "hex":  the stored bytes themselves as hexadecimal digits, for any type
//             (text without its terminator, odd sizes, bad UTF-16).
// - A store that cannot be read or parsed, or that lists one value twice
//   (names equal apart from letter case), opens no key; the reason goes to
//   standard error.

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace testing {

// Makes the registry read the JSON store file at `path` (see above).
void SetRegistryStoreFile(const std::string& path);

// Makes the registry read an in-memory store, which starts empty.
void UseMemoryRegistryStore();

// Writes a value into the in-memory store (creating the key; replacing a value
// of the same name). Texts are UTF-8; `data` is stored as given.
void SetMemoryRegistryValue(RegistryHive hive, const std::string& subKey, const std::string& valueName, uint32_t type,
                            std::vector<uint8_t> data);
// The same for a text: stored as UTF-16LE with a terminating NUL.
void SetMemoryRegistryString(RegistryHive hive, const std::string& subKey, const std::string& valueName,
                             const std::string& text, uint32_t type = RegistryType::String);
// Creates a key without values.
void AddMemoryRegistryKey(RegistryHive hive, const std::string& subKey);

// Back to no store: every key fails to open.
void ClearRegistryStore();

} // namespace testing
} // namespace platform
