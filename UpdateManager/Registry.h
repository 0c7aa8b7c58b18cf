#pragma once
// Reading registry string values for version finding.

#include <string>

namespace Quendal {
namespace UpdateManager {

// Reads the REG_SZ value `valueName` (empty: the key's default value) of the
// key `keyPath`, which starts with its hive: HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT (letter case ignored), then '\' and
// the sub-key. True with the value's text in `value` (UTF-8); false when the
// hive is none of the three, the key or value is missing, the value is not
// REG_SZ, its data exceeds 4,096 bytes, or its text cannot be converted or
// exceeds 2,047 bytes.
bool ReadRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, std::string& value);

} // namespace UpdateManager
} // namespace Quendal
