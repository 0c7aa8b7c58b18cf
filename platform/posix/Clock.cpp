#include "platform/Clock.h"

#include <ctime>

namespace platform {

int64_t SystemTimeTicks()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

} // namespace platform
