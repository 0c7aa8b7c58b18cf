#include "UpdateManager/Registry.h"

#include "Common/Log.h"

#include "platform/Registry.h"

#include <boost/algorithm/string/predicate.hpp>

#include <Poco/TextIterator.h>
#include <Poco/UTF8Encoding.h>

#include <array>
#include <cstdint>
#include <locale>
#include <memory>

namespace Quendal {
namespace UpdateManager {
namespace {

// Sizes of the value's data buffer and of its converted text, terminators
// included.
constexpr std::size_t ValueBufferSize = 4096;
constexpr std::size_t TextBufferSize = 2048;

void AppendUtf8(std::string& out, uint32_t c)
{
    static const Poco::UTF8Encoding utf8;
    unsigned char bytes[4];
    const int length = utf8.convert(static_cast<int>(c), bytes, static_cast<int>(sizeof bytes));
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length > 0 ? length : 0));
}

// The UTF-16LE text in data[0, size) up to its first NUL (or the end of the
// data when it has none) as UTF-8. False when it holds a lone surrogate or
// does not fit TextBufferSize with its terminator.
bool ConvertRegistryText(const uint8_t* data, std::size_t size, std::string& out)
{
    const std::size_t units = size / 2;
    std::string text;
    for (std::size_t i = 0; i < units; ++i) {
        uint32_t c = static_cast<uint32_t>(data[2 * i]) | (static_cast<uint32_t>(data[2 * i + 1]) << 8);
        if (c == 0)
            break;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units)
                return false;
            const uint32_t low =
                static_cast<uint32_t>(data[2 * i + 2]) | (static_cast<uint32_t>(data[2 * i + 3]) << 8);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        AppendUtf8(text, c);
        if (text.size() + 1 > TextBufferSize)
            return false;
    }
    out = text;
    return true;
}

void AppendWide(std::wstring& out, uint32_t c)
{
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
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
        Logger().Error(
            LogCategory::External, "Reg Key is none of {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}", "\n",
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

std::wstring WideFromNarrow(const std::string& text)
{
    Poco::UTF8Encoding utf8;
    Poco::TextIterator it(text, utf8);
    const Poco::TextIterator end(text);
    std::wstring wide;
    for (; it != end; ++it) {
        const int c = *it;
        if (c < 0) {
            wide.clear();
            for (unsigned char byte : text)
                wide += static_cast<wchar_t>(byte);
            return wide;
        }
        AppendWide(wide, static_cast<uint32_t>(c));
    }
    return wide;
}

std::string NarrowFromWide(const std::wstring& text)
{
    std::string narrow;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            narrow += '?';
        else
            AppendUtf8(narrow, c);
    }
    return narrow;
}

} // namespace UpdateManager
} // namespace Quendal
