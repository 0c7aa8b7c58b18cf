#pragma once
// Version numbers and the OS range test.

#include <cstdint>
#include <string>

namespace Quendal {
namespace UpdateManager {

// Up to four dot-separated 16-bit parts packed into one number, most
// significant first; a missing third or fourth part is 0. Fewer than two
// parts, or a part that is not a plain 16-bit number, gives 0. Never throws.
uint64_t ParseVersion(const std::string& text);

// True when the running OS's (major, minor, service pack major) is at least
// the given triple; false when the OS version cannot be determined.
bool IsWindowsVersionOrGreater(uint16_t major, uint16_t minor, uint16_t servicePackMajor);

// One end of a product's OS range, as major.minor.servicepack.
struct PlatformBound {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t servicePack = 0;
};

// Lowest supported OS: missing minor and service pack are 0.
// False when a piece does not start with a number.
bool ReadLowerPlatformBound(const std::string& text, PlatformBound& bound);

// Highest supported OS: missing minor and service pack are 65535, so that
// "6.1" admits every 6.1 and "6" every 6.x.
// False when a piece does not start with a number.
bool ReadUpperPlatformBound(const std::string& text, PlatformBound& bound);

// True when the running OS is at most the bound (an OS whose version cannot
// be determined counts as older).
bool IsRunningOsAtMost(const PlatformBound& bound);

} // namespace UpdateManager
} // namespace Quendal
