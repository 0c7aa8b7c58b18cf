#pragma once
// URL text and HTTP header values as the HTTP request and the download job
// read them. Every log line that shows a URL passes it through MaskPassword.

#include <cstdint>
#include <string>
#include <string_view>

namespace Poco {
class URI;
} // namespace Poco

namespace Quendal {
namespace UpdateManager {

// The URL text with the password of its user-info part replaced by "***".
std::string MaskPassword(const std::string& url);

// The HTTP request's test for an explicit scheme: "name:/..." with a scheme
// name (a letter, then letters, digits, '+', '-', '.'). "host:8080/x" is a
// host and port, not a scheme.
bool StartsWithSchemeColonSlash(std::string_view url);

// The download job's test for a scheme: "name://..." with a scheme name as
// above. Without one the job puts "http://" in front.
bool StartsWithSchemeColonSlashSlash(std::string_view url);

// User name and password of a user-info part: split at its first ':' (no
// ':': empty password), then percent-decoded. Throws Poco::SyntaxException
// for a bad escape.
void SplitUserInfo(const std::string& userInfo, std::string& user, std::string& password);

// The target of a Location header seen from `current`: true when it is an
// absolute http URI with a host and decodable credentials.
bool ResolveLocation(const Poco::URI& current, const std::string& location, Poco::URI& next);

// A "Content-Range" value of a partial answer.
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = -1; // -1: "*"
};

// "bytes first-last/total" or "bytes first-last/*" (more spaces allowed
// after "bytes", its case ignored), with last >= first; false otherwise.
bool ParseContentRange(std::string_view value, ContentRange& range);

// The total after the last '/' of a 416 answer's "Content-Range", read as
// strtoull reads it: leading white space, an optional '+', digits; what
// follows is ignored. False when there are no digits or the total does not
// fit in 63 bits.
bool ParseRangeTotal(std::string_view text, int64_t& total);

} // namespace UpdateManager
} // namespace Quendal
