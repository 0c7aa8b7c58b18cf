// The running executable's path.

#include "platform/Executable.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(ExecutablePath, IsThisProgramsAbsolutePath)
{
    std::string path;
    int error = -1;
    ASSERT_TRUE(platform::ExecutablePath(path, error));
    EXPECT_EQ(error, -1) << "untouched on success";
    EXPECT_TRUE(fs::path(path).is_absolute());
    EXPECT_EQ(fs::path(path).filename(), "platform_executable_test");
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
}

TEST(ExecutablePath, ALongPathIsGivenWhole)
{
    std::string target = "/";
    while (target.size() < 4000)
        target += "a-long-directory-name/";
    target += "program";
    Quendal::Testing::ScratchFolder dir;
    const std::string link = dir.File("link");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

    platform::testing::SetExecutableLink(link);
    std::string path;
    int error = 0;
    const bool ok = platform::ExecutablePath(path, error);
    platform::testing::SetExecutableLink(std::nullopt);
    EXPECT_TRUE(ok);
    EXPECT_EQ(path, target);
}

TEST(ExecutablePath, AFailedLookupGivesErrno)
{
    platform::testing::SetExecutableLink(std::string("/nonexistent/link"));
    std::string path = "untouched";
    int error = 0;
    EXPECT_FALSE(platform::ExecutablePath(path, error));
    platform::testing::SetExecutableLink(std::nullopt);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(path, "untouched");

    std::string again;
    EXPECT_TRUE(platform::ExecutablePath(again, error)) << "back to /proc/self/exe";
}

} // namespace
