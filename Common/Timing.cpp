#include "Common/Timing.h"
#include "Common/Log.h"

#include "platform/Clock.h"

namespace Quendal {

CTiming::CTiming(const std::string& label, bool inMilliseconds)
    : label(label)
    , inMilliseconds(inMilliseconds)
    , startTicks(platform::SystemTimeTicks())
    , stopTicks(0)
{
}

CTiming::~CTiming()
{
    stopTicks = platform::SystemTimeTicks();
    const int32_t elapsed = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Elapsed())));
    const std::string unit = GetUnit();
    Logger().Log(LogCategory::Timing, CLog::Level::Notice, label, " : ", elapsed, " ", unit);
}

int64_t CTiming::Stop()
{
    stopTicks = platform::SystemTimeTicks();
    return Elapsed();
}

std::string CTiming::GetUnit()
{
    return inMilliseconds ? "ms" : "micros";
}

int64_t CTiming::Elapsed() const
{
    return (stopTicks - startTicks) / (inMilliseconds ? platform::TicksPerMillisecond : platform::TicksPerMicrosecond);
}

} // namespace Quendal
