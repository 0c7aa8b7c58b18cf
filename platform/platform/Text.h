#pragma once
// UTF-8 and UTF-16 text conversion (Poco::UnicodeConverter underneath). Poco
// lets bad input through in its own ways (a lone surrogate swallows the
// character after it or is encoded as if it were one); these refuse or
// replace it instead, as each function says.

#include <string>

namespace platform {

// True when `text` is valid UTF-8 (no overlong forms, no encoded surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string& text);

// False, `wide` untouched, when `utf8` is not valid UTF-8 (overlong forms and
// encoded surrogates included).
bool Utf8ToWide(const std::string& utf8, std::wstring& wide);

// False, `utf16` untouched, when `utf8` is not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string& utf16);

// False, `utf8` untouched, when `utf16` holds a surrogate that is not part of
// a pair.
bool Utf16ToUtf8(const std::u16string& utf16, std::string& utf8);

// Wide text of a UTF-8 text; text that is not valid UTF-8 is widened byte by
// byte.
std::wstring WideFromNarrow(const std::string& text);

// UTF-8 text of a wide text; a character that cannot be encoded (a surrogate
// not part of a pair, a value above U+10FFFF) becomes '?'.
std::string NarrowFromWide(const std::wstring& text);

} // namespace platform
