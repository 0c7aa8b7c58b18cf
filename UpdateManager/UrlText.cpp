#include "UpdateManager/UrlText.h"

#include "Common/Numbers.h"

#include <Poco/URI.h>
#include <boost/algorithm/string/predicate.hpp>

#include <exception>

namespace Quendal {
namespace UpdateManager {

namespace {

constexpr bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of the scheme name at the start of `url`; 0 when there is none.
std::size_t SchemeNameLength(std::string_view url)
{
    if (url.empty() || !IsAsciiLetter(url[0]))
        return 0;
    std::size_t i = 1;
    while (i < url.size() &&
           (IsAsciiLetter(url[i]) || IsAsciiDigit(url[i]) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
        ++i;
    return i;
}

// Reads "<digits>" at the start of `text` and moves past it.
bool TakeNumber(std::string_view& text, int64_t& value)
{
    std::size_t used = 0;
    if (!ParseLeadingDigits(text, value, used))
        return false;
    text.remove_prefix(used);
    return true;
}

// Moves past `c` when `text` starts with it.
bool TakeChar(std::string_view& text, char c)
{
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

} // namespace

std::string MaskPassword(const std::string& url)
{
    std::size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos)
        end = url.size();
    const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start)
        return url;
    const std::size_t colon = url.find(':', start);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

bool StartsWithSchemeColonSlash(std::string_view url)
{
    const std::size_t n = SchemeNameLength(url);
    return n > 0 && url.substr(n, 2) == ":/";
}

bool StartsWithSchemeColonSlashSlash(std::string_view url)
{
    const std::size_t n = SchemeNameLength(url);
    return n > 0 && url.substr(n, 3) == "://";
}

void SplitUserInfo(const std::string& userInfo, std::string& user, std::string& password)
{
    const std::size_t colon = userInfo.find(':');
    user.clear();
    password.clear();
    Poco::URI::decode(userInfo.substr(0, colon), user);
    if (colon != std::string::npos)
        Poco::URI::decode(userInfo.substr(colon + 1), password);
}

bool ResolveLocation(const Poco::URI& current, const std::string& location, Poco::URI& next)
{
    if (location.empty())
        return false;
    try {
        std::string text = location;
        if (boost::algorithm::starts_with(text, "//"))
            text = "http:" + text;
        if (StartsWithSchemeColonSlash(text)) {
            next = Poco::URI(text);
        } else {
            next = current;
            next.resolve(text);
        }
        if (next.getScheme() != "http" || next.getHost().empty())
            return false;
        // Credentials that cannot be decoded make a bad Location too.
        std::string user;
        std::string password;
        SplitUserInfo(next.getUserInfo(), user, password);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseContentRange(std::string_view value, ContentRange& range)
{
    if (!boost::algorithm::istarts_with(value, "bytes "))
        return false;
    value.remove_prefix(6);
    while (TakeChar(value, ' ')) {
    }
    ContentRange read;
    if (!TakeNumber(value, read.first) || !TakeChar(value, '-') || !TakeNumber(value, read.last) ||
        !TakeChar(value, '/'))
        return false;
    if (!TakeChar(value, '*') && !TakeNumber(value, read.total))
        return false;
    if (!value.empty() || read.last < read.first)
        return false;
    range = read;
    return true;
}

bool ParseRangeTotal(std::string_view text, int64_t& total)
{
    while (!text.empty() && IsAsciiSpace(text.front()))
        text.remove_prefix(1);
    TakeChar(text, '+');
    std::size_t used = 0;
    return ParseLeadingDigits(text, total, used);
}

} // namespace UpdateManager
} // namespace Quendal
