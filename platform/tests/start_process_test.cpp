#include "platform/Display.h"
#include "platform/Process.h"

#include "testsupport/ScopedEnvironment.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class StartProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("start-process-" + std::to_string(getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        record = folder / "record";
        script = folder / "child.sh";
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "{ echo \"$$\"; for a in \"$@\"; do echo \"[$a]\"; done; } > '" << record.string() << ".part'\n"
            << "mv '" << record.string() << ".part' '" << record.string() << "'\n";
        out.close();
        fs::permissions(script, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(folder); }

    // The child's record once it has been written; empty after 20 s.
    std::vector<std::string> WaitForRecord() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(record) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream in(record);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }

    fs::path folder;
    fs::path record;
    fs::path script;
};

TEST_F(StartProcessTest, StartsWithoutWaitingAndPassesTheArgumentsAsGiven)
{
    ASSERT_EQ(platform::StartProcess(script.string(), {script.string(), "a b", "", "\"q\"", "--"}), 0);
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0], std::to_string(getpid()));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
              (std::vector<std::string>{"[a b]", "[]", "[\"q\"]", "[--]"}));
}

TEST_F(StartProcessTest, PathWithoutFolderIsRelativeToTheWorkingFolder)
{
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    int relative = platform::StartProcess("child.sh", {"child.sh", "x"});
    // Found on PATH, but not in the working folder: not started.
    int onPath = platform::StartProcess("sh", {"sh", "-c", "true"});
    fs::current_path(previous);
    EXPECT_EQ(relative, 0);
    EXPECT_EQ(WaitForRecord().back(), "[x]");
    EXPECT_EQ(onPath, ENOENT);
}

TEST_F(StartProcessTest, FailuresGiveTheErrorNumber)
{
    EXPECT_EQ(platform::StartProcess((folder / "missing").string(), {}), ENOENT);
    EXPECT_EQ(platform::StartProcess(folder.string(), {}), EACCES);
    EXPECT_NE(platform::StartProcess("", {}), 0);
}

TEST(HasUsableDisplay, NeedsAReachableDisplay)
{
    Quendal::Testing::ScopedEnvironment saved({"DISPLAY"});
    unsetenv("DISPLAY");
    EXPECT_FALSE(platform::HasUsableDisplay());
    setenv("DISPLAY", "", 1);
    EXPECT_FALSE(platform::HasUsableDisplay());
    setenv("DISPLAY", ":9999", 1);
    EXPECT_FALSE(platform::HasUsableDisplay());
}

TEST(HasUsableDisplay, TheTestDisplay)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0')
        GTEST_SKIP() << "DISPLAY is not set";
    EXPECT_TRUE(platform::HasUsableDisplay()) << display;
}

} // namespace
