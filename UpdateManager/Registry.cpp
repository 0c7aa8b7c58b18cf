#include "UpdateManager/Registry.h"

#include "Common/Log.h"

#include "platform/Registry.h"
#include "platform/Text.h"

#include <boost/algorithm/string/predicate.hpp>

#include <array>
#include <cstdint>
#include <locale>
#include <memory>
#include <string>

namespace Quendal {
namespace UpdateManager {
namespace {

// Sizes of the value's data buffer and of its converted text, terminators
// included.
constexpr std::size_t ValueBufferSize = 4096;
constexpr std::size_t TextBufferSize = 2048;

// The UTF-16LE text in data[0, size) up to its first NUL (or the end of the
// data when it has none; an odd last byte is ignored) as UTF-8. False when it
// is not valid UTF-16 or does not fit TextBufferSize with its terminator.
bool ConvertRegistryText(const uint8_t* data, std::size_t size, std::string& out)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0)
            break;
        units += unit;
    }
    std::string text;
    if (!platform::Utf16ToUtf8(units, text) || text.size() + 1 > TextBufferSize)
        return false;
    out = text;
    return true;
}

} // namespace

bool ReadRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, std::string& value)
{
    const std::locale locale;
    platform::RegistryHive hive;
    if (boost::algorithm::istarts_with(keyPath, L"HKEY_CURRENT_USER", locale)) {
        hive = platform::RegistryHive::CurrentUser;
    } else if (boost::algorithm::istarts_with(keyPath, L"HKEY_LOCAL_MACHINE", locale)) {
        hive = platform::RegistryHive::LocalMachine;
    } else if (boost::algorithm::istarts_with(keyPath, L"HKEY_CLASSES_ROOT", locale)) {
        hive = platform::RegistryHive::ClassesRoot;
    } else {
        Logger().Error(LogCategory::External,
                       "Reg Key is none of {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}", "\n",
                       " The registrykey could not be resolved.");
        return false;
    }

    const std::size_t separator = keyPath.find(L'\\');
    const std::wstring subKey = separator == std::wstring::npos ? keyPath : keyPath.substr(separator + 1);

    platform::RegistryKey* opened = nullptr;
    if (platform::OpenRegistryKey(hive, subKey, opened) != platform::RegistryStatus::Ok || opened == nullptr)
        return false;
    const std::unique_ptr<platform::RegistryKey, void (*)(platform::RegistryKey*)> key(opened,
                                                                                       &platform::CloseRegistryKey);

    std::array<uint8_t, ValueBufferSize> data{};
    uint32_t type = platform::RegistryType::None;
    uint32_t size = static_cast<uint32_t>(data.size());
    if (platform::QueryRegistryValue(key.get(), valueName, type, data.data(), size) != platform::RegistryStatus::Ok)
        return false;
    if (type != platform::RegistryType::String)
        return false;
    return ConvertRegistryText(data.data(), size < data.size() ? size : data.size(), value);
}

} // namespace UpdateManager
} // namespace Quendal
