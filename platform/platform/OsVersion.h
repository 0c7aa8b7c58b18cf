#pragma once
#include <cstdint>
#include <optional>

namespace platform {

// The OS version as the OS reports it to this process.
struct OsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint16_t servicePackMajor = 0;
};

// False when the version cannot be determined.
//
// On Linux: always 6.2 with service pack 0, the version that Windows 8 and
// later report to a process whose manifest names no supported OS.
bool GetOsVersion(OsVersion& version);

namespace testing {
// Test seam: makes GetOsVersion answer `version` (std::nullopt: the lookup
// fails). The application never calls this.
void OverrideOsVersion(std::optional<OsVersion> version);
void ClearOsVersionOverride();
} // namespace testing

} // namespace platform
