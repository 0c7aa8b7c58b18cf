// The shared helpers: executable path, known folders and their messages, the
// path separator, checksums, sizes, text replacement, random characters.

#include "Common/Globals.h"
#include "Common/Helpers.h"

#include "platform/Executable.h"
#include "platform/KnownFolders.h"
#include "testsupport/ChildTest.h"
#include "testsupport/Files.h"
#include "testsupport/ScopedEnvironment.h"

#include <boost/filesystem.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = boost::filesystem;
using Quendal::Testing::ChildArguments;
using Quendal::Testing::ChildResult;
using Quendal::Testing::RunChildTest;
using Quendal::Testing::ScopedEnvironment;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

std::string Pattern(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    return bytes;
}

TEST(ExecutablePath, IsThisProgram)
{
    const std::string path = Quendal::GetExecutablePath();
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    EXPECT_EQ(fs::path(path).filename().string(), "common_helpers_test");
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST(ExecutablePath, AFailedLookupIsReportedOnStandardErrorAndGivesEmpty)
{
    platform::testing::SetExecutableLink(std::string("/nonexistent/quendal-link"));
    CaptureStderr();
    const std::string path = Quendal::GetExecutablePath();
    const std::string err = GetCapturedStderr();
    platform::testing::SetExecutableLink(std::nullopt);
    EXPECT_EQ(path, "");
    EXPECT_EQ(err, "GetModuleHandle returned 2\n");
}

TEST(PathSeparator, IsThisPlatforms)
{
    EXPECT_EQ(Quendal::GetPathSeparator(), "/");
}

// Known folders through the helpers, with a scratch HOME and the OS layer's
// seam; the environment is restored afterwards.
class KnownFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("HOME", home.Path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("SystemDrive");
    }
    void TearDown() override { platform::testing::ClearKnownFolderOverrides(); }

    // The result, what `out` holds afterwards and what went to standard
    // output; `out` starts as "untouched".
    struct Lookup {
        bool ok;
        std::string out;
        std::string printed;
    };
    template <typename Call>
    static Lookup Capture(Call call)
    {
        Lookup result{false, "untouched", ""};
        CaptureStdout();
        result.ok = call(result.out);
        result.printed = GetCapturedStdout();
        return result;
    }
    static Lookup Known(Quendal::KnownFolderId id)
    {
        return Capture([id](std::string& out) { return Quendal::GetKnownFolderPath(id, out); });
    }
    static Lookup Folder(Quendal::FolderKind kind)
    {
        return Capture([kind](std::string& out) { return Quendal::GetFolderPath(kind, out); });
    }

    ScratchFolder home;
    ScopedEnvironment environment{"HOME", "XDG_CONFIG_HOME", "SystemDrive"};
};

TEST_F(KnownFolders, FoldersUnderHome)
{
    const std::string h = home.Path().string();
    struct Case {
        Quendal::KnownFolderId id;
        std::string expected;
    } cases[] = {
        {Quendal::KnownFolderId::Downloads, h + "/Downloads"},
        {Quendal::KnownFolderId::Desktop, h + "/Desktop"},
        {Quendal::KnownFolderId::Profile, h},
        {Quendal::KnownFolderId::ProgramData, "/var/opt"},
        {Quendal::KnownFolderId::ProgramFilesX86, "/opt"},
        {Quendal::KnownFolderId::ProgramFilesX64, "/opt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const Lookup result = Known(c.id);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.out, c.expected);
        EXPECT_EQ(result.printed, "");
    }

    fs::create_directories(home / ".config");
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n");
    EXPECT_EQ(Known(Quendal::KnownFolderId::Downloads).out, h + "/Fetched");
}

TEST_F(KnownFolders, APathThatIsNotValidUtf8TakesTheConversionFailure)
{
    const fs::path bad = home / "bad\xff";
    fs::create_directories(bad);
    setenv("HOME", bad.c_str(), 1);
    for (auto id : {Quendal::KnownFolderId::Profile, Quendal::KnownFolderId::Downloads}) {
        const Lookup result = Known(id);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.out, "untouched");
        EXPECT_EQ(result.printed, "GetLastError after WideCharToMultiByte returned 84\n");
    }

    setenv("HOME", home.Path().c_str(), 1);
    fs::create_directories(home / ".config");
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/\xc3\x28\"\n");
    EXPECT_FALSE(Known(Quendal::KnownFolderId::Downloads).ok);
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/T\xc3\xa9l\xc3\xa9\x63harg\"\n");
    EXPECT_EQ(Known(Quendal::KnownFolderId::Downloads).out, home.Path().string() + "/T\xc3\xa9l\xc3\xa9\x63harg")
        << "UTF-8 is passed through";
}

TEST_F(KnownFolders, APathLongerThanTheBufferTakesTheConversionFailure)
{
    // 259 bytes and the terminator fit; 260 do not.
    std::string fits = home.Path().string() + "/";
    fits.resize(259, 'd');
    setenv("HOME", fits.c_str(), 1);
    Lookup result = Known(Quendal::KnownFolderId::Profile);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.out, fits);

    const std::string tooLong = fits + "d";
    setenv("HOME", tooLong.c_str(), 1);
    result = Known(Quendal::KnownFolderId::Profile);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, "untouched");
    EXPECT_EQ(result.printed, "GetLastError after WideCharToMultiByte returned 36\n");
}

TEST_F(KnownFolders, AFolderThatCannotBeDeterminedIsFalseSilently)
{
    platform::testing::OverrideKnownFolder(Quendal::KnownFolderId::Downloads, std::nullopt);
    const Lookup result = Known(Quendal::KnownFolderId::Downloads);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, "untouched");
    EXPECT_EQ(result.printed, "");

    platform::testing::OverrideKnownFolder(Quendal::KnownFolderId::Downloads, std::string("/seam/dl"));
    EXPECT_EQ(Known(Quendal::KnownFolderId::Downloads).out, "/seam/dl");
}

TEST_F(KnownFolders, FolderKindsMapToTheirFolders)
{
    using K = Quendal::KnownFolderId;
    using F = Quendal::FolderKind;
    const std::pair<F, K> kinds[] = {
        {F::ProgramData, K::ProgramData},
        {F::ProgramFilesX86, K::ProgramFilesX86},
        {F::ProgramFilesX64, K::ProgramFilesX64},
        {F::Desktop, K::Desktop},
        {F::Downloads, K::Downloads},
        {F::Profile, K::Profile},
    };
    for (const auto& kind : kinds)
        platform::testing::OverrideKnownFolder(kind.second, "/kind/" + std::to_string(static_cast<int>(kind.first)));
    for (const auto& kind : kinds) {
        const Lookup result = Folder(kind.first);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.out, "/kind/" + std::to_string(static_cast<int>(kind.first)));
    }
    platform::testing::OverrideKnownFolder(K::Profile, std::string("/bad\xff"));
    const Lookup bad = Folder(F::Profile);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.out, "untouched");
    EXPECT_EQ(bad.printed, "GetLastError after WideCharToMultiByte returned 84\n");
}

TEST_F(KnownFolders, SystemDriveAndUnknownKinds)
{
    EXPECT_FALSE(Folder(Quendal::FolderKind::SystemDrive).ok) << "not set";
    setenv("SystemDrive", "", 1);
    Lookup result = Folder(Quendal::FolderKind::SystemDrive);
    EXPECT_FALSE(result.ok) << "empty";
    EXPECT_EQ(result.out, "untouched");
    setenv("SystemDrive", "C:", 1);
    result = Folder(Quendal::FolderKind::SystemDrive);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.out, "C:/");

    result = Folder(static_cast<Quendal::FolderKind>(7));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, "untouched");
    EXPECT_FALSE(Folder(static_cast<Quendal::FolderKind>(-1)).ok);
}

TEST(FileChecksum, DigestTable)
{
    ScratchFolder dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* md5;
    } cases[] = {
        {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"one byte short of a block", Pattern(8191), "fc6c8718763831b0632d955e9c4edd7f"},
        {"one block", Pattern(8192), "e7d9befc38280c62a9fa40eae7633c90"},
        {"one byte over a block", Pattern(8193), "4240ffc639e2b72d71ab671c0c39cf7e"},
        {"two blocks", Pattern(16384), "239c55b0c6dcac81344234ca75b93e54"},
        {"three blocks", Pattern(24576), "daeb3a9f3f455affc1eed49c47d7a064"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / (std::string(c.name) + " & \"x\".bin");
        WriteFile(file, c.bytes);
        EXPECT_EQ(Quendal::GetFileChecksum(file), c.md5);
    }
}

TEST(FileChecksum, NothingToHashGivesEmpty)
{
    ScratchFolder dir;
    EXPECT_EQ(Quendal::GetFileChecksum(dir / "missing"), "");
    EXPECT_EQ(Quendal::GetFileChecksum(dir / "missing/below"), "");
    EXPECT_EQ(Quendal::GetFileChecksum(dir.Path()), "") << "a directory";
    EXPECT_EQ(Quendal::GetFileChecksum(fs::path()), "");

    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Quendal::GetFileChecksum(fifo), "") << "a pipe, without waiting for a writer";

    // A regular file whose bytes cannot be read: reading it fails at once.
    EXPECT_EQ(Quendal::GetFileChecksum("/proc/self/mem"), "");
}

// Root opens every file, so as root the check runs in a child that has
// become the user nobody.
QUENDAL_CHILD_TEST(FileChecksumChild, AsNobody)
{
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(setgroups(0, nullptr), 0);
    ASSERT_EQ(setgid(nobody->pw_gid), 0);
    ASSERT_EQ(setuid(nobody->pw_uid), 0);
    const fs::path file = ChildArguments().at(0);
    ASSERT_EQ(access(file.parent_path().c_str(), X_OK), 0) << "nobody reaches the folder";
    ASSERT_EQ(open(file.c_str(), O_RDONLY), -1);
    ASSERT_EQ(errno, EACCES) << "the file is there, only its permission is missing";
    EXPECT_EQ(Quendal::GetFileChecksum(file), "");
}

TEST(FileChecksum, AFileWithoutReadPermissionGivesEmpty)
{
    ScratchFolder dir;
    const fs::path file = dir / "locked";
    WriteFile(file, "secret");
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(Quendal::GetFileChecksum(file), "");
        return;
    }
    EXPECT_EQ(Quendal::GetFileChecksum(file), "5ebe2294ecd0e0f08eab7690d2a6ee69") << "root reads it";
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const ChildResult child = RunChildTest("FileChecksumChild.AsNobody", {file.string()});
    EXPECT_EQ(child.exitCode, 0) << child.output;
}

TEST(FileChecksum, FollowsSymbolicLinks)
{
    ScratchFolder dir;
    WriteFile(dir / "target", "abc");
    fs::create_symlink(dir / "target", dir / "link");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_EQ(Quendal::GetFileChecksum(dir / "link"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Quendal::GetFileChecksum(dir / "dangling"), "");
}

TEST(FileSize, SizeTable)
{
    ScratchFolder dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "some", Pattern(12345));
    fs::create_symlink(dir / "some", dir / "link");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "missing"), 0u);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "empty"), 0u);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "some"), 12345u);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "link"), 12345u);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir.Path()), 0u) << "a directory";
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "fifo"), 0u);
    EXPECT_EQ(Quendal::GetFileSizeOrZero(dir / "some/below"), 0u);
}

TEST(FileSize, LargerThanFourGigabytes)
{
    ScratchFolder dir;
    const fs::path file = dir / "sparse";
    WriteFile(file, "");
    const uint64_t size = (UINT64_C(5) << 30) + 3;
    fs::resize_file(file, size); // sparse: takes no space
    EXPECT_EQ(Quendal::GetFileSizeOrZero(file), size);
}

TEST(ReadRegularFile, WholeRegularFilesUpToTheLimit)
{
    using Quendal::FileRead;
    ScratchFolder dir;
    WriteFile(dir / "some", Pattern(12345));
    WriteFile(dir / "empty", "");
    fs::create_symlink(dir / "some", dir / "link");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);

    struct Case {
        const char* name;
        fs::path path;
        std::size_t limit;
        FileRead expected;
        std::string content; // when Ok
    };
    const std::vector<Case> cases = {
        {"a file", dir / "some", 20000, FileRead::Ok, Pattern(12345)},
        {"exactly the limit", dir / "some", 12345, FileRead::Ok, Pattern(12345)},
        {"one byte over", dir / "some", 12344, FileRead::TooLarge, ""},
        {"an empty file", dir / "empty", 0, FileRead::Ok, ""},
        {"through a link", dir / "link", 20000, FileRead::Ok, Pattern(12345)},
        {"missing", dir / "missing", 20000, FileRead::Unreadable, ""},
        {"a directory", dir.Path(), 20000, FileRead::Unreadable, ""},
        {"empty path", fs::path(), 20000, FileRead::Unreadable, ""},
        {"a FIFO is never opened", dir / "fifo", 20000, FileRead::NotRegularFile, ""},
        {"a device", "/dev/zero", 20000, FileRead::NotRegularFile, ""},
        // Its size says 0: the read itself stops past the limit.
        {"a file larger than its size says", "/proc/self/maps", 10, FileRead::TooLarge, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string content = "untouched";
        EXPECT_EQ(Quendal::ReadRegularFile(c.path, c.limit, content), c.expected);
        EXPECT_EQ(content, c.expected == FileRead::Ok ? c.content : "untouched");
    }
}

TEST(ReplaceAll, Table)
{
    struct Case {
        std::string subject, from, to, expected;
    } cases[] = {
        {"a/b/c", "/", "\\", "a\\b\\c"},
        {"aaa", "a", "aa", "aaaaaa"},
        {"aaaa", "aa", "b", "bb"},
        {"abc", "", "x", "abc"},
        {"", "", "x", ""},
        {"", "a", "b", ""},
        {"abc", "d", "x", "abc"},
        {"a-b-c", "-", "", "abc"},
        {"/lead/", "/", "\\", "\\lead\\"},
        {"xyxy", "xy", "xyxy", "xyxyxyxy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject + " / " + c.from + " / " + c.to);
        EXPECT_EQ(Quendal::ReplaceAll(c.subject, c.from, c.to), c.expected);
    }
}

TEST(RandomChars, EveryCharacterOfTheirSetsAndNoOther)
{
    const std::string alphanumeric = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::set<char> fileName;
    std::set<char> alnum;
    for (int i = 0; i < 50000; ++i) {
        fileName.insert(Quendal::RandomFileNameChar());
        alnum.insert(Quendal::RandomAlphanumericChar());
    }
    EXPECT_EQ(fileName, std::set<char>(Quendal::FileNameCharset.begin(), Quendal::FileNameCharset.end()));
    EXPECT_EQ(alnum, std::set<char>(alphanumeric.begin(), alphanumeric.end()));
    EXPECT_EQ(fileName.count('\''), 1u);
}

} // namespace

#include "Common/Numbers.h"

#include <cstdint>

namespace {

TEST(Numbers, ParseDigitsTakesDigitsOnlyAndRefusesOverflow)
{
    struct Case {
        const char* text;
        bool ok;
        uint64_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"007", true, 7},
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1x", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t value = 99;
        EXPECT_EQ(ParseDigits(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 99u) << c.text;
    }
    int8_t small = 0;
    EXPECT_TRUE(ParseDigits("127", small));
    EXPECT_FALSE(ParseDigits("128", small));
    EXPECT_EQ(small, 127);
}

TEST(Numbers, ParseLeadingDigitsStopsAtTheFirstOtherCharacter)
{
    int64_t value = 0;
    std::size_t used = 0;
    ASSERT_TRUE(ParseLeadingDigits("123-456", value, used));
    EXPECT_EQ(value, 123);
    EXPECT_EQ(used, 3u);
    EXPECT_FALSE(ParseLeadingDigits("-5", value, used));
    EXPECT_FALSE(ParseLeadingDigits("99999999999999999999x", value, used));
    EXPECT_EQ(value, 123);
}

TEST(Numbers, TrimAsciiSpaceRemovesTheCLocaleSpaceOnBothEnds)
{
    EXPECT_EQ(TrimAsciiSpace(" \t\n\v\f\r12 3\r\n"), "12 3");
    EXPECT_EQ(TrimAsciiSpace(" \t "), "");
}

} // namespace
