// UTF-8 and UTF-16 conversion: valid text both ways, and what becomes of
// text that Poco's converter alone would pass on or mangle.

#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::NarrowFromWide;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;
using platform::Utf8ToWide;
using platform::WideFromNarrow;

namespace {

// Not UTF-8: a bad lead byte, a cut sequence, an overlong form, an encoded
// surrogate, a value above U+10FFFF.
const std::vector<std::string> BadUtf8 = {"a\xe9z", "a\xc3", "a\xc0\x80z", "a\xed\xa0\x80z", "\xf4\x90\x80\x80"};

} // namespace

TEST(Text, WideAndNarrow)
{
    EXPECT_EQ(WideFromNarrow("abc"), L"abc");
    EXPECT_EQ(WideFromNarrow("\xc3\xa9\xe2\x82\xac"), std::wstring(L"\u00e9\u20ac"));
    // Not UTF-8: widened byte by byte.
    EXPECT_EQ(WideFromNarrow("a\xe9z"), std::wstring(L"a\u00e9z"));
    EXPECT_EQ(NarrowFromWide(L"a\u00e9\u20ac"), "a\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(NarrowFromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), "?");
}

TEST(Text, ValidTextBothWays)
{
    const std::string utf8 = std::string("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 10) + std::string(1, '\0') + "z";
    const std::u16string utf16 = std::u16string(u"a\u00e9\u20ac\U0001F600") + u'\0' + u"z";

    std::u16string units;
    ASSERT_TRUE(Utf8ToUtf16(utf8, units));
    EXPECT_EQ(units, utf16);
    std::string back;
    ASSERT_TRUE(Utf16ToUtf8(utf16, back));
    EXPECT_EQ(back, utf8); // a NUL is a character like any other here

    std::wstring wide;
    ASSERT_TRUE(Utf8ToWide(utf8, wide));
    EXPECT_EQ(NarrowFromWide(wide), utf8);
    EXPECT_EQ(WideFromNarrow(utf8), wide);

    std::string empty = "untouched";
    EXPECT_TRUE(Utf16ToUtf8(u"", empty));
    EXPECT_EQ(empty, "");
}

TEST(Text, BadUtf8IsRefusedOrWidenedByteByByte)
{
    EXPECT_TRUE(platform::IsValidUtf8(""));
    EXPECT_TRUE(platform::IsValidUtf8("a\xc3\xa9\xef\xbf\xbf\xf4\x8f\xbf\xbf"));
    for (const std::string& text : BadUtf8) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(platform::IsValidUtf8(text));
        std::wstring wide = L"untouched";
        EXPECT_FALSE(Utf8ToWide(text, wide));
        EXPECT_EQ(wide, L"untouched");
        std::u16string units = u"untouched";
        EXPECT_FALSE(Utf8ToUtf16(text, units));
        EXPECT_EQ(units, u"untouched");

        std::wstring bytes;
        for (unsigned char c : text)
            bytes += static_cast<wchar_t>(c);
        EXPECT_EQ(WideFromNarrow(text), bytes); // every byte kept, none swallowed
    }
}

TEST(Text, SurrogatesOutsideAPairAreRefusedOrReplaced)
{
    const std::vector<std::u16string> bad = {u"a\xd800x", u"a\xdc00", u"a\xd83d", u"\xdc00\xd800"};
    for (const std::u16string& text : bad) {
        SCOPED_TRACE(NarrowFromWide(std::wstring(text.begin(), text.end())));
        std::string utf8 = "untouched";
        EXPECT_FALSE(Utf16ToUtf8(text, utf8));
        EXPECT_EQ(utf8, "untouched");
    }

    // Wide text: the character after a lone surrogate is kept; only the
    // surrogate and values beyond U+10FFFF become '?'.
    std::wstring wide = L"a";
    wide += static_cast<wchar_t>(0xD800);
    wide += L"x";
    wide += static_cast<wchar_t>(0xDC00);
    EXPECT_EQ(NarrowFromWide(wide), "a?x?");
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(NarrowFromWide(std::wstring(1, static_cast<wchar_t>(0x110000)) + L"b"), "?b");
        // Four-byte wide text holds code points, not UTF-16: a pair is two bad characters.
        std::wstring pair;
        pair += static_cast<wchar_t>(0xD83D);
        pair += static_cast<wchar_t>(0xDE00);
        EXPECT_EQ(NarrowFromWide(pair), "??");
    }
}
