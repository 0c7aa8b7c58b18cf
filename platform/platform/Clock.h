#pragma once
#include <cstdint>

namespace platform {

// System clock in 100-nanosecond ticks since 1970-01-01 00:00 UTC.
int64_t SystemTimeTicks();

} // namespace platform
