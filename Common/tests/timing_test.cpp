// The scope timer's units, readings and its log line.

#include "Common/Timing.h"
#include "testsupport/LogCapture.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

using Quendal::Testing::LogCapture;

constexpr int64_t Base = 16000000000000000LL;

class Timing : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::testing::SetSystemTimeTicks(Base);
        log = CSingleton<CLog>::GetInstance();
        log->ClearCategoriesForTesting();
        log->EnableCategoryForTesting("timing", CLog::Level::Debug);
    }
    void TearDown() override { platform::testing::SetSystemTimeTicks(std::nullopt); }

    CLog* log = nullptr;
    LogCapture recorder; // detaches and clears the categories at the end
};

struct TimingCase {
    const char* label;
    bool inMilliseconds;
    int64_t elapsedTicks;
    const char* message;
};

TEST_F(Timing, MessageTable)
{
    const TimingCase cases[] = {
        {"short", true, 5000, "short : 0 ms"},
        {"micro", false, 15000, "micro : 1500 micros"},
        {"ProcessProductInfo", true, 15230000, "ProcessProductInfo : 1523 ms"},
        {"below a microsecond", false, 9, "below a microsecond : 0 micros"},
        {"clock set back", true, -25000, "clock set back : -2 ms"},
        {"truncated toward zero", true, -15000, "truncated toward zero : -1 ms"},
        {"low 32 bits", true, ((INT64_C(1) << 32) + 5) * 10000, "low 32 bits : 5 ms"},
        {"", true, 0, " : 0 ms"},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.label);
        recorder.Clear();
        platform::testing::SetSystemTimeTicks(Base);
        {
            Quendal::CTiming timer(c.label, c.inMilliseconds);
            platform::testing::SetSystemTimeTicks(Base + c.elapsedTicks);
        }
        ASSERT_EQ(recorder.RawLines().size(), 1u);
        const std::string line = recorder.RawLines()[0];
        EXPECT_EQ(LogCapture::Parse(line).message, c.message);
        EXPECT_NE(line.find(" | timing          | notice | "), std::string::npos) << line;
    }
}

TEST_F(Timing, StopTakesANewReadingEachTimeAndTheDestructorItsOwn)
{
    {
        Quendal::CTiming timer("scan", true);
        platform::testing::SetSystemTimeTicks(Base + 10000);
        EXPECT_EQ(timer.Stop(), 1);
        platform::testing::SetSystemTimeTicks(Base + 30000);
        EXPECT_EQ(timer.Stop(), 3);
        platform::testing::SetSystemTimeTicks(Base + 50000);
        EXPECT_TRUE(recorder.RawLines().empty()) << "Stop does not log";
    }
    ASSERT_EQ(recorder.RawLines().size(), 1u);
    EXPECT_EQ(recorder.Lines()[0].message, "scan : 5 ms");

    Quendal::CTiming micros("m", false);
    platform::testing::SetSystemTimeTicks(Base + 100000);
    EXPECT_EQ(micros.Stop(), 5000);
}

TEST_F(Timing, Units)
{
    Quendal::CTiming ms("a", true);
    Quendal::CTiming micros("b", false);
    EXPECT_EQ(ms.GetUnit(), "ms");
    EXPECT_EQ(micros.GetUnit(), "micros");
}

TEST(TimingFiltered, WithTheProductsEmptyTableNothingIsLogged)
{
    CLog* log = CSingleton<CLog>::GetInstance();
    log->ClearCategoriesForTesting();
    LogCapture recorder;
    {
        Quendal::CTiming timer("Complete Scan", true);
    }
    EXPECT_TRUE(recorder.RawLines().empty());
}

} // namespace
