#include "UpdateManager/UrlText.h"

#include "Common/Numbers.h"

#include <Poco/URI.h>
#include <boost/algorithm/string/predicate.hpp>

#include <exception>
#include <limits>

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

// Reads a decimal number of at most 63 bits from text[pos..]; false when
// there is none or it does not fit.
bool ParseNumber(std::string_view text, std::size_t& pos, int64_t& value)
{
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && IsAsciiDigit(text[pos])) {
        const int digit = text[pos] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++pos;
    }
    return pos > start;
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
    std::size_t pos = 6;
    while (pos < value.size() && value[pos] == ' ')
        ++pos;
    if (!ParseNumber(value, pos, range.first) || pos >= value.size() || value[pos++] != '-')
        return false;
    if (!ParseNumber(value, pos, range.last) || pos >= value.size() || value[pos++] != '/')
        return false;
    if (pos < value.size() && value[pos] == '*') {
        range.total = -1;
        ++pos;
    } else if (!ParseNumber(value, pos, range.total)) {
        return false;
    }
    return pos == value.size() && range.last >= range.first;
}

} // namespace UpdateManager
} // namespace Quendal
