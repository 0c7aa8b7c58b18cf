// The installer record: construction, the confirm file and the state check.

#include "UpdateManager/Installer.h"
#include "testsupport/ChildTest.h"
#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include "Common/Helpers.h"

#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>

#include <sys/stat.h>

namespace fs = boost::filesystem;
using Quendal::Testing::ChildArguments;
using Quendal::Testing::ChildResult;
using Quendal::Testing::LogCapture;
using Quendal::Testing::ReadFile;
using Quendal::Testing::RunChildTest;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;
using Quendal::UpdateManager::Installer;
using Quendal::UpdateManager::UpdateStatus;

namespace {

const std::string Url = "http://downloads.example/soft/setup.exe";
const std::string HelloMd5 = "5d41402abc4b2a76b9719d911017c592";

class InstallerConfirmTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    fs::path installerPath = scratch / "setup.exe";
    fs::path confirmPath = scratch / "setup.exe.confirm";
};

TEST_F(InstallerConfirmTest, NewRecordsAndCopies)
{
    Installer blank;
    EXPECT_FALSE(blank.IsInitialised());
    EXPECT_EQ(blank.GetStatus(), UpdateStatus::Error);
    EXPECT_EQ(blank.GetProgress(), -1.0);
    EXPECT_EQ(blank.GetByteCount(), 0);
    EXPECT_EQ(blank.GetUrl(), "");
    EXPECT_TRUE(blank.GetInstallerPath().empty());

    // Without versions the check gives "unknown", except for a download under way.
    Installer unversioned(Url, installerPath, UpdateStatus::InstallerAvailable);
    EXPECT_TRUE(unversioned.IsInitialised());
    EXPECT_EQ(unversioned.GetStatus(), UpdateStatus::Unknown);
    EXPECT_EQ(unversioned.GetUrl(), Url);
    EXPECT_EQ(unversioned.GetInstallerPath(), installerPath);
    EXPECT_EQ(unversioned.GetConfirmPath(), confirmPath);
    EXPECT_EQ(Installer(Url, installerPath, UpdateStatus::DownloadInProgress).GetStatus(),
              UpdateStatus::DownloadInProgress);

    WriteFile(installerPath, "abc");
    Installer partial(Url, installerPath, UpdateStatus::Unknown, "1.0", "2.0");
    EXPECT_EQ(partial.GetStatus(), UpdateStatus::DownloadPaused);
    EXPECT_EQ(partial.GetByteCount(), 3);
    partial.SetSilent(true);

    Installer copy(partial);
    EXPECT_TRUE(copy.IsInitialised());
    EXPECT_EQ(copy.GetStatus(), UpdateStatus::DownloadPaused);
    EXPECT_EQ(copy.GetByteCount(), 3);
    EXPECT_EQ(copy.GetUrl(), Url);
    EXPECT_EQ(copy.GetInstallerPath(), installerPath);
    EXPECT_EQ(copy.GetProgress(), -1.0);

    blank = partial;
    EXPECT_TRUE(blank.IsInitialised());
    EXPECT_EQ(blank.GetStatus(), UpdateStatus::DownloadPaused);
    EXPECT_EQ(blank.GetByteCount(), 3);
    blank.SetStatus(UpdateStatus::InstallComplete);
    EXPECT_EQ(partial.GetStatus(), UpdateStatus::DownloadPaused);

    // SetSource moves nothing else; Reset starts over.
    partial.SetSource("http://other.example/b.exe", scratch / "b.exe");
    EXPECT_EQ(partial.GetUrl(), "http://other.example/b.exe");
    EXPECT_EQ(partial.GetInstallerPath(), scratch / "b.exe");
    EXPECT_EQ(partial.GetStatus(), UpdateStatus::DownloadPaused);
    EXPECT_EQ(partial.GetByteCount(), 3);
    partial.Reset(Url, installerPath, UpdateStatus::Unknown, "2.0", "2.0");
    EXPECT_EQ(partial.GetStatus(), UpdateStatus::UpToDate);
    EXPECT_EQ(partial.GetByteCount(), 0);

    Installer reset;
    reset.Reset(Url, installerPath, UpdateStatus::Unknown, "1.0", "2.0");
    EXPECT_TRUE(reset.IsInitialised());
    EXPECT_EQ(reset.GetStatus(), UpdateStatus::DownloadPaused);
}

TEST_F(InstallerConfirmTest, WritesSizeAndChecksumAsJsonText)
{
    WriteFile(installerPath, "hello");
    WriteFile(confirmPath, std::string(200, ' ') + "{\"size\": \"5\"}"); // longer than what replaces it
    Installer installer(Url, installerPath, UpdateStatus::Unknown);
    ASSERT_TRUE(installer.WriteConfirmFile(""));
    EXPECT_EQ(ReadFile(confirmPath), "{\n    \"size\": \"5\",\n    \"checksum\": \"" + HelloMd5 + "\"\n}\n");

    // The checksum the download computed is stored as given, in lower case.
    ASSERT_TRUE(installer.WriteConfirmFile("ABCDEF0123456789ABCDEF0123456789"));
    EXPECT_EQ(ReadFile(confirmPath),
              "{\n    \"size\": \"5\",\n    \"checksum\": \"abcdef0123456789abcdef0123456789\"\n}\n");

    installer.CheckState("1.0", "2.0");
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::InstallerAvailable);
    EXPECT_EQ(installer.GetByteCount(), 0);
}

TEST_F(InstallerConfirmTest, ConfirmForAMissingInstaller)
{
    Installer installer(Url, installerPath, UpdateStatus::Unknown);
    ASSERT_TRUE(installer.WriteConfirmFile(""));
    EXPECT_EQ(ReadFile(confirmPath), "{\n    \"size\": \"0\",\n    \"checksum\": \"\"\n}\n");
}

TEST_F(InstallerConfirmTest, BigInstallerValidates)
{
    // Sparse: no 3 GB really written.
    WriteFile(installerPath, "");
    fs::resize_file(installerPath, 3000000000ULL);
    Installer installer(Url, installerPath, UpdateStatus::Unknown);
    ASSERT_TRUE(installer.WriteConfirmFile("0123456789abcdef0123456789abcdef"));
    EXPECT_NE(ReadFile(confirmPath).find("\"size\": \"3000000000\""), std::string::npos);
    installer.CheckState("1.0", "2.0");
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::InstallerAvailable);

    fs::remove(confirmPath);
    installer.CheckState("1.0", "2.0");
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::DownloadPaused);
    EXPECT_EQ(installer.GetByteCount(), 3000000000LL);
}

TEST_F(InstallerConfirmTest, ConfirmThatCannotBeWritten)
{
    LogCapture log({"update_manager"});
    struct Case {
        const char* name;
        fs::path installer;
        std::function<void()> setup;
    };
    const fs::path gone = scratch / "gone" / "setup.exe";
    const Case cases[] = {
        {"folder gone", gone, [] {}},
        {"directory in the way", installerPath,
         [this] {
             WriteFile(installerPath, "hello");
             fs::create_directory(confirmPath);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setup();
        Installer installer(Url, c.installer, UpdateStatus::Unknown);
        installer.SetStatus(UpdateStatus::DownloadInProgress);
        EXPECT_FALSE(installer.WriteConfirmFile(""));
        EXPECT_EQ(installer.GetStatus(), UpdateStatus::DownloadError);
        EXPECT_TRUE(log.HasLike("update_manager", "error",
                                "Failed to write confirm file " + c.installer.string() + ".confirm(", ")"))
            << log.Describe();
    }
    EXPECT_FALSE(fs::exists(gone.parent_path()));
    EXPECT_TRUE(fs::is_directory(confirmPath));
}

// Runs in a child of ConfirmThatCannotBeWrittenOnAFullDisk (argument: the
// installer): there every write fails as on a full disk (file size limit 0,
// SIGXFSZ ignored).
QUENDAL_CHILD_TEST(InstallerConfirmChild, WriteFailsOnAFullDisk)
{
    ASSERT_EQ(ChildArguments().size(), 1u);
    ASSERT_NE(std::signal(SIGXFSZ, SIG_IGN), SIG_ERR);
    const rlimit limit{0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    Installer installer(Url, fs::path(ChildArguments()[0]), UpdateStatus::Unknown);
    installer.SetStatus(UpdateStatus::DownloadInProgress);
    EXPECT_FALSE(installer.WriteConfirmFile(""));
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::DownloadError);
    EXPECT_FALSE(fs::exists(installer.GetConfirmPath())) << "a half-written confirm file was left";
}

TEST_F(InstallerConfirmTest, ConfirmThatCannotBeWrittenOnAFullDisk)
{
    WriteFile(installerPath, "hello");
    const ChildResult child = RunChildTest("InstallerConfirmChild.WriteFailsOnAFullDisk", {installerPath.string()});
    EXPECT_EQ(child.exitCode, 0) << child.output;
    const std::string& childOutput = child.output;
    EXPECT_NE(childOutput.find("[  PASSED  ] 1 test."), std::string::npos) << childOutput;
    EXPECT_EQ(childOutput.find("SKIPPED"), std::string::npos) << childOutput;
    EXPECT_FALSE(fs::exists(confirmPath));
}

// What lies at a path before the check.
struct Entry {
    enum Kind { None, File, Directory } kind = None;
    std::string content; // File: its bytes; Directory: a file of this name inside when not empty
};

Entry NoEntry()
{
    return {};
}
Entry FileWith(const std::string& content)
{
    return {Entry::File, content};
}
Entry DirectoryWith(const std::string& child)
{
    return {Entry::Directory, child};
}

void Create(const fs::path& path, const Entry& entry)
{
    if (entry.kind == Entry::File) {
        WriteFile(path, entry.content);
    } else if (entry.kind == Entry::Directory) {
        fs::create_directory(path);
        if (!entry.content.empty())
            WriteFile(path / entry.content, "x");
    }
}

struct Logged {
    const char* level;
    std::string prefix; // then a library's error text and ")"
};

struct CheckCase {
    const char* name;
    std::string local;
    std::string remote;
    Entry installer;
    Entry confirm;
    UpdateStatus expected;
    int64_t byteCount;
    bool confirmKept;
    std::vector<Logged> logged; // the lines expected, all in "update_manager"; {} for none
    std::string installerName = "setup.exe";
};

std::string ConfirmWithSize(const std::string& size)
{
    return "{\n    \"size\": " + size + ",\n    \"checksum\": \"" + HelloMd5 + "\"\n}\n";
}

TEST_F(InstallerConfirmTest, CheckStateTable)
{
    const std::string valid = ConfirmWithSize("\"5\"");
    const std::string longName(250, 'n');
    const CheckCase cases[] = {
        {"latest empty", "1.0", "", FileWith("hello"), FileWith(valid), UpdateStatus::Unknown, 0, true, {}},
        {"latest one part", "1.0", "5", FileWith("hello"), NoEntry(), UpdateStatus::Unknown, 0, false, {}},
        {"latest not a number", "1.0", "2.x", NoEntry(), NoEntry(), UpdateStatus::Unknown, 0, false, {}},
        {"same version written longer",
         "1.2.0.0",
         "1.2",
         FileWith("hello"),
         NoEntry(),
         UpdateStatus::UpToDate,
         0,
         false,
         {}},
        {"installed is newer", "3.0", "2.0", NoEntry(), NoEntry(), UpdateStatus::UpToDate, 0, false, {}},
        {"installed unknown", "unknown", "2.0", NoEntry(), NoEntry(), UpdateStatus::UpdateNeeded, 0, false, {}},
        {"nothing on disk", "1.0", "2.0", NoEntry(), NoEntry(), UpdateStatus::UpdateNeeded, 0, false, {}},
        {"confirm without installer",
         "1.0",
         "2.0",
         NoEntry(),
         FileWith(valid),
         UpdateStatus::UpdateNeeded,
         0,
         true,
         {}},
        {"partial file", "1.0", "2.0", FileWith("hello"), NoEntry(), UpdateStatus::DownloadPaused, 5, false, {}},
        {"verified, size as text",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(valid),
         UpdateStatus::InstallerAvailable,
         0,
         true,
         {}},
        {"verified, size as number",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("5")),
         UpdateStatus::InstallerAvailable,
         0,
         true,
         {}},
        {"verified, CR LF",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith("{\r\n    \"size\": \"5\",\r\n    \"checksum\": \"" + HelloMd5 + "\"\r\n}\r\n"),
         UpdateStatus::InstallerAvailable,
         0,
         true,
         {}},
        {"verified, checksum not looked at",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith("{\"size\":\"5\"}"),
         UpdateStatus::InstallerAvailable,
         0,
         true,
         {}},
        {"size one byte off",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("\"6\"")),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"empty installer, size 0",
         "1.0",
         "2.0",
         FileWith(""),
         FileWith(ConfirmWithSize("\"0\"")),
         UpdateStatus::DownloadPaused,
         0,
         false,
         {}},
        {"size missing",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith("{\"checksum\": \"x\"}"),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"size with a unit",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("\"5 bytes\"")),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"size as a fraction",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("5.0")),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"size as an object",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("{\"n\": 5}")),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"size beyond 64 bits",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith(ConfirmWithSize("\"18446744073709551621\"")),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {}},
        {"confirm not JSON",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith("size=5"),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {{"error", "Error reading confirm file {confirm}("}}},
        {"confirm truncated",
         "1.0",
         "2.0",
         FileWith("hello"),
         FileWith("{\n    \"size\": \"5\",\n"),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {{"error", "Error reading confirm file {confirm}("}}},
        {"confirm is a full directory",
         "1.0",
         "2.0",
         FileWith("hello"),
         DirectoryWith("inside"),
         UpdateStatus::DownloadPaused,
         5,
         true,
         {{"error", "Error reading confirm file {confirm}("}, {"error", "Failed to remove {confirm}("}}},
        {"installer is a directory",
         "1.0",
         "2.0",
         DirectoryWith(""),
         NoEntry(),
         UpdateStatus::Error,
         0,
         false,
         {{"error", "Failed to read size of {installer}("}}},
        {"installer name too long",
         "1.0",
         "2.0",
         NoEntry(),
         NoEntry(),
         UpdateStatus::UpdateNeeded,
         0,
         false,
         {{"warning", "Failed to check file existence. ("}},
         std::string(300, 'n')},
        {"only the confirm name too long",
         "1.0",
         "2.0",
         FileWith("hello"),
         NoEntry(),
         UpdateStatus::DownloadPaused,
         5,
         false,
         {{"warning", "Failed to check file existence. ("}},
         longName},
    };

    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const fs::path installer = folder / c.installerName;
        const fs::path confirm = folder / (c.installerName + ".confirm");
        Create(installer, c.installer);
        if (c.installerName.size() < 250)
            Create(confirm, c.confirm);

        LogCapture log({"update_manager"});
        Installer record(Url, installer, UpdateStatus::Unknown);
        record.SetStatus(UpdateStatus::Error);
        record.CheckState(c.local, c.remote);

        EXPECT_EQ(record.GetStatus(), c.expected);
        EXPECT_EQ(record.GetByteCount(), c.byteCount);
        if (c.confirm.kind != Entry::None) {
            EXPECT_EQ(fs::exists(confirm), c.confirmKept);
        }
        if (c.installer.kind != Entry::None) {
            EXPECT_TRUE(fs::exists(installer)) << "the installer file is never removed here";
        }
        for (const Logged& line : c.logged) {
            std::string prefix = Quendal::ReplaceAll(line.prefix, "{confirm}", confirm.string());
            prefix = Quendal::ReplaceAll(prefix, "{installer}", installer.string());
            EXPECT_TRUE(log.HasLike("update_manager", line.level, prefix, ")")) << prefix << "\n" << log.Describe();
        }
        EXPECT_EQ(log.Lines().size(), c.logged.size()) << log.Describe();
    }
}

// A confirm file that is a pipe or a device, too large, or nested deeper than
// the JSON reader's stack allows is a bad confirm file: refused before it is
// read or parsed, removed, and the installer counts as a partial download.
TEST_F(InstallerConfirmTest, ConfirmFilesThatCouldBlockNeverEndOrExhaustTheStackAreBad)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> create;
        std::string error;
    };
    const std::string tooLarge = "larger than " + std::to_string(Quendal::MaxTextFileSize) + " bytes";
    const Case cases[] = {
        {"a FIFO", [](const fs::path& confirm) { ASSERT_EQ(mkfifo(confirm.c_str(), 0600), 0); }, "not a regular file"},
        {"a link to /dev/zero", [](const fs::path& confirm) { fs::create_symlink("/dev/zero", confirm); },
         "not a regular file"},
        {"one byte over the limit",
         [](const fs::path& confirm) {
             WriteFile(confirm, "{\"size\": \"5\"}");
             fs::resize_file(confirm, Quendal::MaxTextFileSize + 1); // sparse
         },
         tooLarge},
        {"100,000 levels deep",
         [](const fs::path& confirm) {
             WriteFile(confirm,
                       "{\"size\": \"5\", \"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
         },
         "nested deeper than 64 levels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const fs::path installer = folder / "setup.exe";
        const fs::path confirm = folder / "setup.exe.confirm";
        WriteFile(installer, "hello");
        c.create(confirm);

        LogCapture log({"update_manager"});
        Installer record(Url, installer, UpdateStatus::Unknown, "1.0", "2.0");
        EXPECT_EQ(record.GetStatus(), UpdateStatus::DownloadPaused);
        EXPECT_EQ(record.GetByteCount(), 5);
        EXPECT_FALSE(fs::exists(fs::symlink_status(confirm)));
        EXPECT_TRUE(fs::exists("/dev/zero"));
        const std::string line =
            "Error reading confirm file " + confirm.string() + "(" + confirm.string() + ": " + c.error + ")";
        EXPECT_EQ(log.Lines().size(), 1u) << log.Describe();
        EXPECT_TRUE(log.Has("update_manager", "error", line)) << log.Describe();
    }
}

// Only a download or install under way is left alone: every other status,
// paused and available included, is evaluated from the disk again.
TEST_F(InstallerConfirmTest, OtherStatusesAreEvaluatedAgain)
{
    WriteFile(installerPath, "hello");
    for (UpdateStatus before :
         {UpdateStatus::Unknown, UpdateStatus::UpToDate, UpdateStatus::UpdateNeeded, UpdateStatus::DownloadPaused,
          UpdateStatus::DownloadError, UpdateStatus::InstallerAvailable, UpdateStatus::InstallComplete,
          UpdateStatus::PlatformNotSupported, UpdateStatus::Error}) {
        SCOPED_TRACE(static_cast<int>(before));
        Installer installer(Url, installerPath, UpdateStatus::Unknown);
        installer.SetStatus(before);
        installer.CheckState("1.0", "2.0");
        EXPECT_EQ(installer.GetStatus(), UpdateStatus::DownloadPaused);
        EXPECT_EQ(installer.GetByteCount(), 5);

        ASSERT_TRUE(installer.WriteConfirmFile(""));
        installer.SetStatus(before);
        installer.CheckState("1.0", "2.0");
        EXPECT_EQ(installer.GetStatus(), UpdateStatus::InstallerAvailable);
        EXPECT_EQ(installer.GetByteCount(), 0);
        fs::remove(confirmPath);
    }
}

TEST_F(InstallerConfirmTest, DownloadsAndInstallsUnderWayKeepTheirStatus)
{
    WriteFile(installerPath, "hello");
    for (UpdateStatus busy :
         {UpdateStatus::DownloadInProgress, UpdateStatus::InstallerStart, UpdateStatus::InstallInProgress}) {
        SCOPED_TRACE(static_cast<int>(busy));
        Installer installer(Url, installerPath, UpdateStatus::Unknown, "1.0", "2.0");
        ASSERT_EQ(installer.GetByteCount(), 5);
        installer.SetStatus(busy);
        installer.CheckState("1.0", "2.0");
        EXPECT_EQ(installer.GetStatus(), busy);
        EXPECT_EQ(installer.GetByteCount(), 0);
        installer.CheckState("1.0", "");
        EXPECT_EQ(installer.GetStatus(), busy);
    }
}

} // namespace
