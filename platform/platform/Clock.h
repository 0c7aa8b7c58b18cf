#pragma once
#include <cstdint>
#include <optional>

namespace platform {

// The clock's unit: 100 nanoseconds.
constexpr int64_t NanosecondsPerTick = 100;
constexpr int64_t TicksPerMicrosecond = 10;
constexpr int64_t TicksPerMillisecond = 10'000;
constexpr int64_t TicksPerSecond = 10'000'000;

// System clock in 100-nanosecond ticks since 1970-01-01 00:00 UTC.
int64_t SystemTimeTicks();

namespace testing {
// Test seam: SystemTimeTicks answers `ticks` until called with std::nullopt.
// The application never calls this.
void SetSystemTimeTicks(std::optional<int64_t> ticks);
} // namespace testing

} // namespace platform
