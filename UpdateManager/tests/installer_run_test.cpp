// Running one installer: real shell-script installers in a scratch folder.

#include "UpdateManager/Installer.h"
#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/ScriptInstaller.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <functional>

namespace fs = boost::filesystem;
using Quendal::UpdateManager::Installer;
using Quendal::UpdateManager::UpdateStatus;
using namespace Quendal::Testing;

namespace {

class InstallerRunTest : public ::testing::Test {
protected:
    // A record in "install in progress", as the engine hands it over.
    static Installer Record(const fs::path& path, bool silent)
    {
        Installer installer("http://downloads.example/" + path.filename().string(), path, UpdateStatus::Unknown);
        installer.SetSilent(silent);
        installer.SetStatus(UpdateStatus::InstallInProgress);
        return installer;
    }

    ScratchFolder scratch;
    fs::path record = scratch / "record.txt";
};

TEST_F(InstallerRunTest, ExitCodeGivesTheStatus)
{
    struct Case {
        int exitCode;
        bool executable;
        UpdateStatus expected;
    };
    const Case cases[] = {
        {0, true, UpdateStatus::InstallComplete},
        {0, false, UpdateStatus::InstallComplete}, // as downloaded: the execute bit is set first
        {1, true, UpdateStatus::Error},
        {7, false, UpdateStatus::Error},
        {255, true, UpdateStatus::Error},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        const fs::path path = scratch / ("setup" + std::to_string(n++) + ".exe");
        WriteScriptInstaller(path, {"setup", c.exitCode, record, {}, c.executable});
        Installer installer = Record(path, true);
        installer.Run();
        EXPECT_EQ(installer.GetStatus(), c.expected);
        EXPECT_EQ(installer.GetProgress(), -1.0);
        EXPECT_TRUE((fs::status(path).permissions() & fs::owner_exe) != 0);
    }
    EXPECT_EQ(ReadLines(record).size(), 5u * 3u);
}

TEST_F(InstallerRunTest, SilentOnlyWhenAsked)
{
    LogCapture log({"install"});
    const fs::path path = scratch / "My Product Setup.exe";
    WriteScriptInstaller(path, {"setup", 0, record, {}, false});

    Installer silent = Record(path, true);
    silent.Run();
    EXPECT_EQ(silent.GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start setup 1", "arg /SILENT", "end setup"}));
    EXPECT_TRUE(log.Has("install", "info", "Run " + path.string())) << log.Describe();
    EXPECT_TRUE(log.Has("install", "info", "Open silent installer " + path.string())) << log.Describe();

    fs::remove(record);
    Installer interactive = Record(path, false);
    interactive.Run();
    EXPECT_EQ(interactive.GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start setup 0", "end setup"}));
    EXPECT_TRUE(log.Has("install", "info", "Open installer " + path.string())) << log.Describe();
    EXPECT_EQ(log.Lines().size(), 4u) << log.Describe();
}

TEST_F(InstallerRunTest, MissingInstallerNeedsAnUpdate)
{
    LogCapture log({"install"});
    const fs::path path = scratch / "gone.exe";
    Installer installer = Record(path, true);
    installer.Run();
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::UpdateNeeded);
    EXPECT_EQ(installer.GetProgress(), -1.0);
    EXPECT_TRUE(log.Has("install", "error", "\"" + path.string() + "\" does not exist")) << log.Describe();
    EXPECT_FALSE(log.Contains("Open"));
}

TEST_F(InstallerRunTest, ProgramThatCannotStartIsAnError)
{
    struct Case {
        const char* name;
        std::function<fs::path()> make;
    };
    const Case cases[] = {
        {"not a program",
         [&] {
             const fs::path path = scratch / "text.exe";
             WriteFile(path, "this is no program\n");
             return path;
         }},
        {"missing interpreter",
         [&] {
             const fs::path path = scratch / "orphan.exe";
             WriteFile(path, "#!/nonexistent/interpreter\nexit 0\n");
             return path;
         }},
        {"a directory",
         [&] {
             const fs::path path = scratch / "folder.exe";
             fs::create_directory(path);
             return path;
         }},
        {"killed by a signal",
         [&] {
             const fs::path path = scratch / "killed.exe";
             WriteFile(path, "#!/bin/sh\nkill -KILL $$\n");
             return path;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = c.make();
        LogCapture log({"install"});
        Installer installer = Record(path, true);
        installer.Run();
        EXPECT_EQ(installer.GetStatus(), UpdateStatus::Error);
        EXPECT_EQ(installer.GetProgress(), -1.0);
        // The status tells; no line beyond the two of every run.
        EXPECT_TRUE(log.Has("install", "info", "Run " + path.string()));
        EXPECT_TRUE(log.Has("install", "info", "Open silent installer " + path.string()));
        EXPECT_EQ(log.Lines().size(), 2u) << log.Describe();
        EXPECT_FALSE(installer.RunInstaller(path.string(), false));
    }
}

TEST_F(InstallerRunTest, FileSystemErrorIsAnError)
{
    LogCapture log({"install"});
    const fs::path path = scratch / std::string(300, 'n'); // a name the file system refuses
    Installer installer = Record(path, true);
    installer.Run();
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::Error);
    EXPECT_EQ(installer.GetProgress(), -1.0);
    EXPECT_TRUE(log.Has("install", "info", "Run " + path.string())) << log.Describe();
    EXPECT_TRUE(log.HasLike("install", "error", "Failed to run installer: ", "")) << log.Describe();
    EXPECT_FALSE(log.Contains("Open"));
    EXPECT_FALSE(log.Contains("does not exist"));
}

TEST_F(InstallerRunTest, RunInstallerReportsExitCodeZeroOnly)
{
    const fs::path good = scratch / "good.sh";
    const fs::path bad = scratch / "bad.sh";
    WriteScriptInstaller(good, {"good", 0, record, {}, true});
    WriteScriptInstaller(bad, {"bad", 2, record, {}, true});
    Installer installer;
    EXPECT_TRUE(installer.RunInstaller(good.string(), false));
    EXPECT_FALSE(installer.RunInstaller(bad.string(), true));
    EXPECT_FALSE(installer.RunInstaller((scratch / "missing.sh").string(), true));
    EXPECT_EQ(ReadLines(record),
              (std::vector<std::string>{"start good 0", "end good", "start bad 1", "arg /SILENT", "end bad"}));
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::Error) << "RunInstaller leaves the status alone";
}

} // namespace
