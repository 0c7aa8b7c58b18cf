#include "platform/Text.h"

#include <Poco/UTFString.h>
#include <Poco/UnicodeConverter.h>

#include <cstdint>

namespace platform {
namespace {

// What Poco's UTF-8 decoder puts in place of a sequence it cannot read.
constexpr Poco::UTF32Char BadSequence = static_cast<Poco::UTF32Char>(-1);

bool IsHighSurrogate(uint32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Position of the first unit at or after `from` that is no character: a
// surrogate outside a pair (with `pairs` false every surrogate) or a value
// above U+10FFFF. npos when there is none.
template <class Text>
std::size_t FindUnencodable(const Text& text, std::size_t from, bool pairs)
{
    for (std::size_t i = from; i < text.size(); ++i) {
        const uint32_t c = static_cast<uint32_t>(text[i]);
        if (pairs && IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(static_cast<uint32_t>(text[i + 1]))) {
            ++i;
            continue;
        }
        if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF)
            return i;
    }
    return Text::npos;
}

} // namespace

bool IsValidUtf8(const std::string& text)
{
    Poco::UTF32String points;
    Poco::UnicodeConverter::convert(text, points);
    return points.find(BadSequence) == Poco::UTF32String::npos;
}

bool Utf8ToWide(const std::string& utf8, std::wstring& wide)
{
    if (!IsValidUtf8(utf8))
        return false;
    Poco::UnicodeConverter::convert(utf8, wide); // UTF-32 or UTF-16, as wide as wchar_t
    return true;
}

bool Utf8ToUtf16(const std::string& utf8, std::u16string& utf16)
{
    if (!IsValidUtf8(utf8))
        return false;
    Poco::UTF16String units;
    Poco::UnicodeConverter::convert(utf8, units);
    utf16.assign(units.begin(), units.end());
    return true;
}

bool Utf16ToUtf8(const std::u16string& utf16, std::string& utf8)
{
    if (FindUnencodable(utf16, 0, true) != std::u16string::npos)
        return false;
    const Poco::UTF16String units(utf16.begin(), utf16.end());
    Poco::UnicodeConverter::convert(units, utf8);
    return true;
}

std::wstring WideFromNarrow(const std::string& text)
{
    std::wstring wide;
    if (!Utf8ToWide(text, wide)) {
        wide.clear();
        for (unsigned char byte : text)
            wide += static_cast<wchar_t>(byte);
    }
    return wide;
}

std::string NarrowFromWide(const std::wstring& text)
{
    // Surrogate pairs only where wchar_t holds UTF-16.
    constexpr bool pairs = sizeof(wchar_t) == 2;
    std::wstring encodable = text;
    for (std::size_t i = FindUnencodable(encodable, 0, pairs); i != std::wstring::npos;
         i = FindUnencodable(encodable, i + 1, pairs))
        encodable[i] = L'?';
    std::string narrow;
    Poco::UnicodeConverter::convert(encodable, narrow);
    return narrow;
}

} // namespace platform
