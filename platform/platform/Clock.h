#pragma once
#include <cstdint>
#include <optional>

namespace platform {

// System clock in 100-nanosecond ticks since 1970-01-01 00:00 UTC.
int64_t SystemTimeTicks();

namespace testing {
// Test seam: SystemTimeTicks answers `ticks` until called with std::nullopt.
// The application never calls this.
void SetSystemTimeTicks(std::optional<int64_t> ticks);
} // namespace testing

} // namespace platform
