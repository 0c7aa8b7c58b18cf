#pragma once
// Decimal number reading shared by the engine and its tools: digits only, no
// locale, overflow refused (std::from_chars underneath).

#include <charconv>
#include <cstddef>
#include <string_view>
#include <system_error>
#include <type_traits>

// The C locale's white space: space, \t, \n, \v, \f, \r.
constexpr bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// `text` without leading and trailing white space.
constexpr std::string_view TrimAsciiSpace(std::string_view text)
{
    while (!text.empty() && IsAsciiSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsAsciiSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Reads the decimal digits at the start of `text` (at least one; no sign, no
// white space). `used` gets the number of characters read. False when there
// is no digit or the number does not fit in `Integer`; `value` is then left
// unchanged.
template <class Integer>
bool ParseLeadingDigits(std::string_view text, Integer& value, std::size_t& used)
{
    static_assert(std::is_integral_v<Integer>, "an integer type");
    if (text.empty() || !IsAsciiDigit(text.front()))
        return false;
    Integer parsed = 0;
    const std::from_chars_result result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc())
        return false;
    value = parsed;
    used = static_cast<std::size_t>(result.ptr - text.data());
    return true;
}

// The whole of `text` is a decimal number: digits only, nothing before or
// after. False otherwise or on overflow; `value` is then left unchanged.
template <class Integer>
bool ParseDigits(std::string_view text, Integer& value)
{
    Integer parsed = 0;
    std::size_t used = 0;
    if (!ParseLeadingDigits(text, parsed, used) || used != text.size())
        return false;
    value = parsed;
    return true;
}
