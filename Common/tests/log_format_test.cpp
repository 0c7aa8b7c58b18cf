// The logger's filter, line format and the way message parts are written.

#include "Common/Log.h"
#include "testsupport/LogCapture.h"

#include "platform/Clock.h"
#include "platform/Thread.h"

#include <boost/filesystem/path.hpp>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>

namespace {

using Quendal::Testing::LogCapture;

constexpr int64_t Base = 16000000000000000LL; // some moment in 2020, in ticks
constexpr int64_t TicksPerMs = 10000;

std::string ThreadField()
{
    std::string id = std::to_string(platform::CurrentThreadId());
    if (id.size() < 5)
        id.resize(5, ' ');
    return id;
}

// `expected` with every "{tid}" replaced by the calling thread's field.
std::string WithThread(std::string expected)
{
    const std::string field = ThreadField();
    for (std::size_t pos = expected.find("{tid}"); pos != std::string::npos; pos = expected.find("{tid}", pos))
        expected.replace(pos, 5, field);
    return expected;
}

class LogFormat : public ::testing::Test {
protected:
    void SetUp() override
    {
        log = CSingleton<CLog>::GetInstance();
        log->ClearCategoriesForTesting();
        log->SetStartTimeForTesting(Base);
        platform::testing::SetSystemTimeTicks(Base);
    }
    void TearDown() override { platform::testing::SetSystemTimeTicks(std::nullopt); }

    CLog* log = nullptr;
    LogCapture recorder; // detaches and clears the categories at the end
};

struct FormatCase {
    const char* name;
    int64_t elapsedTicks;
    const char* category;
    int level;
    const char* message;
    const char* expected;
};

TEST_F(LogFormat, LineTable)
{
    const FormatCase cases[] = {
        {"example", 12 * TicksPerMs, "update_manager", 1, " Initialize UpdateManager",
         "[LOG] 12     | {tid} | update_manager  | info   |  Initialize UpdateManager\n"},
        {"zero elapsed", 0, "web", 0, "x", "[LOG] 0      | {tid} | web             | debug  | x\n"},
        {"below one ms", TicksPerMs - 1, "web", 0, "x", "[LOG] 0      | {tid} | web             | debug  | x\n"},
        {"seven digits", 1234567 * TicksPerMs, "web", 0, "x", "[LOG] 1234567 | {tid} | web             | debug  | x\n"},
        {"six digits fill the width", 123456 * TicksPerMs, "web", 0, "x",
         "[LOG] 123456 | {tid} | web             | debug  | x\n"},
        {"negative", -5 * TicksPerMs, "web", 0, "x", "[LOG] -5     | {tid} | web             | debug  | x\n"},
        {"negative truncates toward zero", -(TicksPerMs - 1), "web", 0, "x",
         "[LOG] 0      | {tid} | web             | debug  | x\n"},
        {"minus one ms", -TicksPerMs, "web", 0, "x", "[LOG] -1     | {tid} | web             | debug  | x\n"},
        {"low 32 bits", ((INT64_C(1) << 32) + 7) * TicksPerMs, "web", 0, "x",
         "[LOG] 7      | {tid} | web             | debug  | x\n"},
        {"low 32 bits as signed", (INT64_C(1) << 31) * TicksPerMs, "web", 0, "x",
         "[LOG] -2147483648 | {tid} | web             | debug  | x\n"},
        {"category of 15", 0, "abcdefghijklmno", 4, "x", "[LOG] 0      | {tid} | abcdefghijklmno | error  | x\n"},
        {"category longer than 15", 0, "a_category_of_twenty", 4, "x",
         "[LOG] 0      | {tid} | a_category_of_twenty | error  | x\n"},
        {"empty category", 0, "", 4, "x", "[LOG] 0      | {tid} |                 | error  | x\n"},
        {"notice", 0, "install", 2, "x", "[LOG] 0      | {tid} | install         | notice | x\n"},
        {"warning is written whole", 0, "install", 3, "x", "[LOG] 0      | {tid} | install         | warning | x\n"},
        {"except", 0, "install", 5, "x", "[LOG] 0      | {tid} | install         | except | x\n"},
        {"assert", 0, "install", 6, "x", "[LOG] 0      | {tid} | install         | assert | x\n"},
        {"level above the table", 0, "install", 7, "x", "[LOG] 0      | {tid} | install         | 7      | x\n"},
        {"negative level", 0, "install", -1, "x", "[LOG] 0      | {tid} | install         | -1     | x\n"},
        {"huge level", 0, "install", INT_MAX, "x", "[LOG] 0      | {tid} | install         | 2147483647 | x\n"},
        {"empty message", 0, "web", 1, "", "[LOG] 0      | {tid} | web             | info   | \n"},
        {"message kept as it is", 0, "web", 1, "a | b\nc",
         "[LOG] 0      | {tid} | web             | info   | a | b\nc\n"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::testing::SetSystemTimeTicks(Base + c.elapsedTicks);
        std::ostringstream message;
        message << c.message;
        EXPECT_EQ(log->Format(c.category, c.level, message), WithThread(c.expected));
    }
}

TEST_F(LogFormat, ThreadIdIsTheCallingThreads)
{
    log->EnableCategoryForTesting("web", CLog::Level::Debug);
    std::string fromThread;
    uint64_t threadId = 0;
    std::thread other([&] {
        threadId = platform::CurrentThreadId();
        std::ostringstream message;
        fromThread = log->Format("web", 0, message);
    });
    other.join();
    EXPECT_NE(threadId, platform::CurrentThreadId());
    EXPECT_EQ(fromThread.substr(0, 15 + std::to_string(threadId).size()), "[LOG] 0      | " + std::to_string(threadId));
}

TEST_F(LogFormat, LogFormatsItsPartsIntoOneLine)
{
    log->EnableCategoryForTesting("download", CLog::Level::Info);
    platform::testing::SetSystemTimeTicks(Base + 42 * TicksPerMs);
    log->Info("download", "Saved ", 8192, " bytes to ", boost::filesystem::path("/tmp/a&b.exe"), '!');
    ASSERT_EQ(recorder.RawLines().size(), 1u);
    EXPECT_EQ(recorder.RawLines()[0],
              WithThread("[LOG] 42     | {tid} | download        | info   | Saved 8192 bytes to \"/tmp/a&&b.exe\"!\n"));
}

TEST_F(LogFormat, LevelFormsUseTheirLevels)
{
    log->EnableCategoryForTesting("web", CLog::Level::Debug);
    log->Debug("web", "d");
    log->Info("web", "i");
    log->Notice("web", "n");
    log->Warning("web", "w");
    log->Error("web", "e");
    ASSERT_EQ(recorder.RawLines().size(), 5u);
    const char* names[] = {"| debug  | d\n", "| info   | i\n", "| notice | n\n", "| warning | w\n", "| error  | e\n"};
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(recorder.RawLines()[i].find(names[i]), std::string::npos) << recorder.RawLines()[i];
}

// Counts how often it is written into a stream.
struct Costly {
    static int writes;
};
int Costly::writes = 0;
std::ostream& operator<<(std::ostream& stream, const Costly&)
{
    ++Costly::writes;
    return stream << "costly";
}

TEST_F(LogFormat, FilterPassesOnlyEnabledCategoriesFromTheirThreshold)
{
    const char* categories[] = {"update_manager", "install", "timing", "description", "web", "download", "external"};
    for (const char* category : categories) {
        for (int level = -1; level <= 7; ++level)
            EXPECT_FALSE(log->IsEnabled(category, level)) << category << " " << level;
    }

    Costly::writes = 0;
    log->Error("web", Costly());
    EXPECT_EQ(Costly::writes, 0) << "a filtered call writes no part";
    EXPECT_TRUE(recorder.RawLines().empty());

    log->EnableCategoryForTesting("web", CLog::Level::Warning);
    EXPECT_FALSE(log->IsEnabled("web", CLog::Level::Notice));
    EXPECT_TRUE(log->IsEnabled("web", CLog::Level::Warning));
    EXPECT_TRUE(log->IsEnabled("web", CLog::Level::Assert));
    EXPECT_FALSE(log->IsEnabled("download", CLog::Level::Error));
    EXPECT_FALSE(log->IsEnabled("we", CLog::Level::Error));
    EXPECT_FALSE(log->IsEnabled("web ", CLog::Level::Error));

    log->Notice("web", Costly());
    EXPECT_EQ(Costly::writes, 0);
    log->Warning("web", Costly());
    EXPECT_EQ(Costly::writes, 1);
    ASSERT_EQ(recorder.RawLines().size(), 1u);
    EXPECT_EQ(recorder.Lines()[0].message, "costly");

    log->ClearCategoriesForTesting();
    EXPECT_FALSE(log->IsEnabled("web", CLog::Level::Error));
}

TEST_F(LogFormat, ObserverGetsTheWholeLineOfALongMessage)
{
    log->EnableCategoryForTesting("web", CLog::Level::Debug);
    const std::string text(20000, 'x');
    log->Info("web", text);
    ASSERT_EQ(recorder.RawLines().size(), 1u);
    const std::string message = recorder.Lines()[0].message;
    EXPECT_EQ(message.size(), text.size());
    EXPECT_TRUE(message == text);
    EXPECT_EQ(recorder.RawLines()[0].back(), '\n');
}

struct PrintCase {
    const char* name;
    std::function<void(std::ostream&)> print;
    std::string expected;
};

TEST(LogPrint, PartTable)
{
    namespace fs = boost::filesystem;
    const char* nullText = nullptr;
    const std::string std_text = "with space";
    const PrintCase cases[] = {
        {"no parts", [](std::ostream& s) { CLog::Print(s); }, ""},
        {"C string", [](std::ostream& s) { CLog::Print(s, "plain"); }, "plain"},
        {"std::string", [&](std::ostream& s) { CLog::Print(s, std_text); }, "with space"},
        {"char", [](std::ostream& s) { CLog::Print(s, 'x'); }, "x"},
        {"int", [](std::ostream& s) { CLog::Print(s, -42); }, "-42"},
        {"int min", [](std::ostream& s) { CLog::Print(s, INT32_MIN); }, "-2147483648"},
        {"int64", [](std::ostream& s) { CLog::Print(s, INT64_C(-9000000000)); }, "-9000000000"},
        {"uint32", [](std::ostream& s) { CLog::Print(s, UINT32_C(4294967295)); }, "4294967295"},
        {"uint64", [](std::ostream& s) { CLog::Print(s, UINT64_C(18446744073709551615)); }, "18446744073709551615"},
        {"path", [](std::ostream& s) { CLog::Print(s, fs::path("/tmp/dir/file.exe")); }, "\"/tmp/dir/file.exe\""},
        {"path with backslashes", [](std::ostream& s) { CLog::Print(s, fs::path("C:\\Program Files\\a.exe")); },
         "\"C:\\Program Files\\a.exe\""},
        {"path with ampersand", [](std::ostream& s) { CLog::Print(s, fs::path("a&b")); }, "\"a&&b\""},
        {"path with quotes", [](std::ostream& s) { CLog::Print(s, fs::path("say \"hi\"")); }, "\"say &\"hi&\"\""},
        {"path of quotes and ampersands", [](std::ostream& s) { CLog::Print(s, fs::path("&\"&")); }, "\"&&&\"&&\""},
        {"empty path", [](std::ostream& s) { CLog::Print(s, fs::path()); }, "\"\""},
        {"a text is not quoted", [](std::ostream& s) { CLog::Print(s, "a&\"b"); }, "a&\"b"},
        {"null C string", [&](std::ostream& s) { CLog::Print(s, nullText, "after"); }, "after"},
        {"parts in order, no fill",
         [](std::ostream& s) { CLog::Print(s, "a", 1, 'b', fs::path("x"), std::string("c"), 255u); }, "a1b\"x\"c255"},
    };
    for (const PrintCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream stream;
        c.print(stream);
        EXPECT_TRUE(stream.good());
        EXPECT_EQ(stream.str(), c.expected);
    }
}

TEST(LogPrint, APathAndAmpersandIsSixCharacters)
{
    std::ostringstream stream;
    CLog::Print(stream, boost::filesystem::path("a&b"));
    EXPECT_EQ(stream.str().size(), 6u);
}

} // namespace
