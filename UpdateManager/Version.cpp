#include "UpdateManager/Version.h"

#include "UpdateManager/ProductDescription.h"
#include "Common/Numbers.h"
#include "platform/OsVersion.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <string_view>
#include <tuple>
#include <vector>

namespace Quendal {
namespace UpdateManager {
namespace {

// Cut at every full stop; the empty text gives one empty piece.
std::vector<std::string> SplitAtDots(const std::string& text)
{
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, text, boost::algorithm::is_any_of("."));
    return pieces;
}

// Removes an optional leading '+' or '-'; true for '-'.
bool TakeSign(std::string_view& text)
{
    if (text.empty() || (text.front() != '+' && text.front() != '-'))
        return false;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    return negative;
}

// A version part: optional '+' or '-', then digits only, at most 65535;
// '-' counts back from 65536 ("-1" is 65535).
bool ReadVersionPart(std::string_view piece, uint16_t& part)
{
    const bool negative = TakeSign(piece);
    uint16_t value = 0;
    if (!ParseDigits(piece, value))
        return false;
    part = negative ? static_cast<uint16_t>(0u - value) : value;
    return true;
}

// Kept apart from ParseDigits: OS range pieces are read as strtoul reads them.
// Leading white space, optional sign, then digits up to the first other
// character ("1sp2" is 1); the number must fit 32 bits unsigned, '-' negates
// it modulo 2^32, and its low 16 bits are the value.
bool ReadBoundPiece(std::string_view piece, uint16_t& value)
{
    while (!piece.empty() && IsAsciiSpace(piece.front()))
        piece.remove_prefix(1);
    const bool negative = TakeSign(piece);
    uint32_t word = 0;
    std::size_t used = 0;
    if (!ParseLeadingDigits(piece, word, used))
        return false;
    if (negative)
        word = 0u - word;
    value = static_cast<uint16_t>(word & 0xFFFFu);
    return true;
}

bool ReadBound(const std::string& text, uint16_t missing, PlatformBound& bound)
{
    const std::vector<std::string> pieces = SplitAtDots(text);
    PlatformBound result;
    bool ok = ReadBoundPiece(pieces[0], result.major);
    result.minor = missing;
    result.servicePack = missing;
    if (ok && pieces.size() >= 2)
        ok = ReadBoundPiece(pieces[1], result.minor);
    if (ok && pieces.size() >= 3)
        ok = ReadBoundPiece(pieces[2], result.servicePack);
    if (ok)
        bound = result;
    return ok;
}

} // namespace

uint64_t ParseVersion(const std::string& text)
{
    const std::vector<std::string> pieces = SplitAtDots(text);
    if (pieces.size() < 2)
        return 0;
    uint64_t result = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        uint16_t part = 0;
        if (i < pieces.size() && !ReadVersionPart(pieces[i], part))
            return 0;
        result = (result << 16) | part;
    }
    return result;
}

bool IsWindowsVersionOrGreater(uint16_t major, uint16_t minor, uint16_t servicePackMajor)
{
    platform::OsVersion os;
    if (!platform::GetOsVersion(os))
        return false;
    return std::make_tuple(os.major, os.minor, os.servicePackMajor) >=
           std::make_tuple(uint32_t{major}, uint32_t{minor}, servicePackMajor);
}

bool IsRunningOsAtMost(const PlatformBound& bound)
{
    platform::OsVersion os;
    if (!platform::GetOsVersion(os))
        return true;
    return std::make_tuple(os.major, os.minor, os.servicePackMajor) <=
           std::make_tuple(uint32_t{bound.major}, uint32_t{bound.minor}, bound.servicePack);
}

bool ReadLowerPlatformBound(const std::string& text, PlatformBound& bound)
{
    return ReadBound(text, 0, bound);
}

bool ReadUpperPlatformBound(const std::string& text, PlatformBound& bound)
{
    return ReadBound(text, 65535, bound);
}

bool ProductDescription::IsPlatformSupported() const
{
    bool result = true;
    if (!platformMinVersion.empty()) {
        PlatformBound lower;
        result = ReadLowerPlatformBound(platformMinVersion, lower) &&
                 IsWindowsVersionOrGreater(lower.major, lower.minor, lower.servicePack);
    }
    if (!platformMaxVersion.empty()) {
        PlatformBound upper;
        const bool readable = ReadUpperPlatformBound(platformMaxVersion, upper);
        result = result && readable && IsRunningOsAtMost(upper);
    }
    return result;
}

} // namespace UpdateManager
} // namespace Quendal
