#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace platform {
namespace {

std::atomic<bool> fixedTime{false};
std::atomic<int64_t> fixedTicks{0};

} // namespace

int64_t SystemTimeTicks()
{
    if (fixedTime.load(std::memory_order_acquire))
        return fixedTicks.load(std::memory_order_relaxed);
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * TicksPerSecond + ts.tv_nsec / NanosecondsPerTick;
}

namespace testing {

void SetSystemTimeTicks(std::optional<int64_t> ticks)
{
    if (ticks) {
        fixedTicks.store(*ticks, std::memory_order_relaxed);
        fixedTime.store(true, std::memory_order_release);
    } else {
        fixedTime.store(false, std::memory_order_release);
    }
}

} // namespace testing
} // namespace platform
