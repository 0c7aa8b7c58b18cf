// The scope timer's units, readings and its log line.

#include "Common/Timing.h"
#include "TestSupport.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t Base = 16000000000000000LL;

class Timing : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::testing::SetSystemTimeTicks(Base);
        log = CSingleton<CLog>::GetInstance();
        log->ClearCategoriesForTesting();
        log->EnableCategoryForTesting("timing", CLog::Level::Debug);
        log->SetLineObserverForTesting(&recorder);
    }
    void TearDown() override
    {
        log->SetLineObserverForTesting(nullptr);
        log->ClearCategoriesForTesting();
        platform::testing::SetSystemTimeTicks(std::nullopt);
    }

    CLog* log = nullptr;
    testsupport::LineRecorder recorder;
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
        recorder.lines.clear();
        platform::testing::SetSystemTimeTicks(Base);
        {
            Quendal::CTiming timer(c.label, c.inMilliseconds);
            platform::testing::SetSystemTimeTicks(Base + c.elapsedTicks);
        }
        ASSERT_EQ(recorder.lines.size(), 1u);
        const std::string& line = recorder.lines[0];
        EXPECT_EQ(testsupport::MessageOf(line), c.message);
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
        EXPECT_TRUE(recorder.lines.empty()) << "Stop does not log";
    }
    ASSERT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(testsupport::MessageOf(recorder.lines[0]), "scan : 5 ms");

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
    testsupport::LineRecorder recorder;
    log->SetLineObserverForTesting(&recorder);
    {
        Quendal::CTiming timer("Complete Scan", true);
    }
    log->SetLineObserverForTesting(nullptr);
    EXPECT_TRUE(recorder.lines.empty());
}

} // namespace
