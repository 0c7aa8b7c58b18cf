// The system clock in 100-ns ticks since 1970 and the calling thread's id.

#include "platform/Clock.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

int64_t ChronoTicks()
{
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(system_clock::now().time_since_epoch()).count();
}

TEST(Clock, TicksAreHundredsOfNanosecondsSince1970)
{
    const int64_t before = ChronoTicks();
    const int64_t ticks = platform::SystemTimeTicks();
    const int64_t after = ChronoTicks();
    EXPECT_GE(ticks, before - 10000); // a millisecond of slack for clock granularity
    EXPECT_LE(ticks, after + 10000);
    EXPECT_GT(ticks, INT64_C(15778368000000000)); // after 2020-01-01

    const int64_t start = platform::SystemTimeTicks();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int64_t elapsed = platform::SystemTimeTicks() - start;
    EXPECT_GE(elapsed, 20 * 10000 - 10000);
    EXPECT_LT(elapsed, 10 * 10000000) << "well under ten seconds";
}

TEST(Clock, TestSeamFixesTheTimeUntilCleared)
{
    platform::testing::SetSystemTimeTicks(INT64_C(-5));
    EXPECT_EQ(platform::SystemTimeTicks(), -5);
    platform::testing::SetSystemTimeTicks(INT64_C(123456789));
    EXPECT_EQ(platform::SystemTimeTicks(), 123456789);
    platform::testing::SetSystemTimeTicks(std::nullopt);
    EXPECT_GT(platform::SystemTimeTicks(), INT64_C(15778368000000000));
}

TEST(ThreadId, IsTheKernelThreadId)
{
    // The main thread's kernel id is the process id.
    EXPECT_EQ(platform::CurrentThreadId(), static_cast<uint64_t>(getpid()));
    EXPECT_EQ(platform::CurrentThreadId(), platform::CurrentThreadId());

    std::vector<uint64_t> ids(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i)
        threads.emplace_back([&ids, i] { ids[i] = platform::CurrentThreadId(); });
    for (std::thread& t : threads)
        t.join();
    std::set<uint64_t> distinct(ids.begin(), ids.end());
    distinct.insert(platform::CurrentThreadId());
    EXPECT_EQ(distinct.size(), ids.size() + 1);
}

} // namespace
