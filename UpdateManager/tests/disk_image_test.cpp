#include "UpdateManager/DiskImage.h"

#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Scanning.h"

#include "platform/DiskImageTools.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

using namespace Quendal::UpdateManager;
namespace fs = boost::filesystem;
using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::Testing::ScannerLogCategories;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

// A path in the logger's quoted form.
std::string Quoted(const fs::path& path)
{
    std::string text = "\"";
    for (char c : path.string()) {
        if (c == '"' || c == '&')
            text += '&';
        text += c;
    }
    return text + "\"";
}

LogLine Line(const std::string& level, const std::string& message, const std::string& category = "install")
{
    return {category, level, message};
}

// Names that a shell would take apart.
const char* const HostileImage = "a b; touch PWNED; $(touch PWNED2) `touch PWNED3` \"q\" & 'x' > PWNED4 .dmg";
const char* const HostileMountPoint = "mnt \"x\" && touch PWNED5 | $HOME\n; rm -rf PWNED6 &";

class DiskImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        attachTool = dir.Path() / "tools" / "hdiutil";
        unmountTool = dir.Path() / "tools" / "umount";
        record = dir.Path() / "record";
        platform::testing::SetDiskImageTools(attachTool.string(), unmountTool.string());
    }

    void TearDown() override { platform::testing::ResetDiskImageTools(); }

    // A tool script: records its arguments (NUL-separated), runs `action`
    // (shell text) and exits with `code`.
    void WriteTool(const fs::path& script, const std::string& action, int code)
    {
        WriteFile(script, "#!/bin/sh\n"
                          "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" +
                              record.string() + "'\n" + action + "\nexit " + std::to_string(code) + "\n");
        fs::permissions(script, fs::owner_all | fs::group_read | fs::group_exe);
    }

    // The arguments the last tool run got; empty when no tool ran.
    std::vector<std::string> Recorded() const
    {
        return Quendal::Testing::SplitAt(Quendal::Testing::ReadFile(record), '\0');
    }

    // Files a shell would have made from the hostile names.
    std::vector<std::string> Planted() const
    {
        std::vector<std::string> found;
        for (const fs::path& folder : {dir.Path(), fs::current_path()})
            for (fs::directory_iterator it(folder), end; it != end; ++it)
                if (it->path().filename().string().rfind("PWNED", 0) == 0)
                    found.push_back(it->path().string());
        return found;
    }

    fs::path Image(const std::string& name = "disk.dmg")
    {
        const fs::path image = dir.Path() / name;
        WriteFile(image, "image");
        return image;
    }

    ScratchFolder dir;
    fs::path attachTool;
    fs::path unmountTool;
    fs::path record;
};

} // namespace

TEST_F(DiskImageTest, MountRunsTheToolWithOneArgumentPerPath)
{
    struct Case {
        const char* name;
        std::string imageName;
        std::string mountName;
        std::string action;
        int code;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"mounted", "disk.dmg", "mnt", "mkdir -- \"$4\"", 0, true},
        {"hostile names", HostileImage, HostileMountPoint, "mkdir -- \"$4\"", 0, true},
        {"the tool fails", "disk.dmg", "mnt", "mkdir -- \"$4\"", 3, false},
        {"the tool succeeds but makes no mount point", "disk.dmg", "mnt", ":", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTool(attachTool, c.action, c.code);
        const fs::path image = Image(c.imageName);
        const fs::path mountPoint = dir.Path() / c.mountName;
        LogCapture log{ScannerLogCategories};
        EXPECT_EQ(MountInstaller(image, mountPoint), c.ok);
        EXPECT_EQ(Recorded(), (std::vector<std::string>{"attach", image.string(), "-mountpoint", mountPoint.string()}));
        std::vector<LogLine> expected = {
            Line("info", "Mounting installer."),
            Line("debug", attachTool.string() + " attach " + image.string() + " -mountpoint " + mountPoint.string()),
            Line("debug", "Returned " + std::to_string(c.code)),
        };
        if (c.ok)
            expected.push_back(Line("debug", Quoted(mountPoint) + " has been succesfully mounted."));
        else
            expected.push_back(
                Line("error", "Failed to mount " + Quoted(mountPoint) + " (returned " + std::to_string(c.code) + ")"));
        EXPECT_EQ(log.Lines(), expected);
        EXPECT_TRUE(Planted().empty());
        fs::remove(record);
        fs::remove_all(mountPoint);
    }
}

TEST_F(DiskImageTest, MountRefusesWithoutRunningTheTool)
{
    WriteTool(attachTool, "mkdir -- \"$4\"", 0);
    const fs::path image = Image();
    const fs::path existing = dir.Path() / "existing";
    fs::create_directories(existing);
    const fs::path folderImage = dir.Path() / "folder.dmg";
    fs::create_directories(folderImage);
    const fs::path tooLong = dir.Path() / std::string(300, 'n');
    struct Case {
        const char* name;
        fs::path image;
        fs::path mountPoint;
        LogLine line;
    };
    const std::vector<Case> cases = {
        {"missing image", dir.Path() / "missing.dmg", dir.Path() / "mnt",
         Line("error", Quoted(dir.Path() / "missing.dmg") + " is not a valid file and cannot be mounted")},
        {"a folder as image", folderImage, dir.Path() / "mnt",
         Line("error", Quoted(folderImage) + " is not a valid file and cannot be mounted")},
        {"existing mount point", image, existing,
         Line("error", "The target directory " + Quoted(existing) + " already exists ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log{ScannerLogCategories};
        EXPECT_FALSE(MountInstaller(c.image, c.mountPoint));
        EXPECT_EQ(log.Lines(), (std::vector<LogLine>{Line("info", "Mounting installer."), c.line}));
        EXPECT_TRUE(Recorded().empty());
        EXPECT_FALSE(fs::exists(dir.Path() / "mnt"));
    }

    // A status query that fails.
    LogCapture log{ScannerLogCategories};
    EXPECT_FALSE(MountInstaller(tooLong, dir.Path() / "mnt"));
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].level, "error");
    EXPECT_EQ(lines[1].message.rfind("Failed to mount volume for installer: ", 0), 0u) << lines[1];
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(DiskImageTest, MountWithAMissingTool)
{
    const fs::path image = Image();
    LogCapture log{ScannerLogCategories};
    EXPECT_FALSE(MountInstaller(image, dir.Path() / "mnt"));
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], Line("debug", "Returned -1"));
    EXPECT_EQ(lines[3], Line("error", "Failed to mount " + Quoted(dir.Path() / "mnt") + " (returned -1)"));
}

TEST_F(DiskImageTest, ARelativePathIsNeverAnOption)
{
    WriteTool(attachTool, "mkdir -- \"$4\"", 0);
    Image("-rf.dmg");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    const bool ok = MountInstaller("-rf.dmg", "--mnt");
    fs::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"attach", "./-rf.dmg", "-mountpoint", "./--mnt"}));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "--mnt"));
}

TEST_F(DiskImageTest, Unmount)
{
    struct Case {
        const char* name;
        std::string mountName;
        std::string action;
        int code;
        bool ok;
        bool folderStays;
    };
    // Each mount point holds a file "volume" that the unmount tool may take away.
    const std::vector<Case> cases = {
        {"unmounted: the empty folder is removed", "mnt", "rm -f -- \"$2/volume\"", 0, true, false},
        {"hostile name", HostileMountPoint, "rm -f -- \"$2/volume\"", 0, true, false},
        {"the folder still holds the volume", "mnt", ":", 0, false, true},
        {"the tool fails", "mnt", "rm -f -- \"$2/volume\"", 32, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTool(unmountTool, c.action, c.code);
        const fs::path mountPoint = dir.Path() / c.mountName;
        WriteFile(mountPoint / "volume", "data");
        LogCapture log{ScannerLogCategories};
        EXPECT_EQ(UnmountInstaller(mountPoint), c.ok);
        EXPECT_EQ(Recorded(), (std::vector<std::string>{"-f", mountPoint.string()}));
        EXPECT_EQ(fs::exists(mountPoint), c.folderStays);
        const LogLine expected = c.ok ? Line("debug", Quoted(mountPoint) + " unmounted succesfully")
                                      : Line("error", "Could not unmount " + Quoted(mountPoint) + " (returned " +
                                                          std::to_string(c.code) + ")");
        EXPECT_EQ(log.Lines(), std::vector<LogLine>{expected});
        EXPECT_TRUE(Planted().empty());
        fs::remove_all(mountPoint);
        fs::remove(record);
    }
}

TEST_F(DiskImageTest, UnmountRefusals)
{
    WriteTool(unmountTool, ":", 0);
    {
        LogCapture log{ScannerLogCategories};
        EXPECT_FALSE(UnmountInstaller(dir.Path() / "mnt"));
        EXPECT_EQ(log.Lines(), (std::vector<LogLine>{Line("error", "Cannot unmount " + Quoted(dir.Path() / "mnt") +
                                                                       " because the directory does not exist")}));
    }
    {
        LogCapture log{ScannerLogCategories};
        const fs::path tooLong = dir.Path() / std::string(300, 'n');
        EXPECT_FALSE(UnmountInstaller(tooLong));
        const std::vector<LogLine> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].message.rfind("Failed to unmount" + Quoted(tooLong) + ": ", 0), 0u) << lines[0];
    }
    EXPECT_TRUE(Recorded().empty());

    // A link to a folder is not removed in place of an unmounted folder.
    fs::create_directories(dir.Path() / "target");
    fs::create_directory_symlink(dir.Path() / "target", dir.Path() / "link");
    EXPECT_FALSE(UnmountInstaller(dir.Path() / "link"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link"));
}

TEST(FindFileWithExtension, FirstRegularFileWithTheExactExtension)
{
    ScratchFolder dir;
    LogCapture log({"install", "update_manager"});
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> folders;
        std::string found; // empty: none
    };
    const std::vector<Case> cases = {
        {"a file among others", {"a.txt", "b.pkg"}, {"c.pkg"}, "b.pkg"},
        {"letter case counts", {"a.PKG"}, {}, ""},
        {"a name without a dot", {"pkg"}, {}, ""},
        {"a folder with the extension is skipped", {}, {"c.pkg"}, ""},
        {"the text after the last dot", {"a.pkg.zip", "b.zip.pkg"}, {}, "b.zip.pkg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir.Path() / "case";
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const std::string& f : c.files)
            WriteFile(folder / f, "x");
        for (const std::string& f : c.folders)
            fs::create_directories(folder / f);
        log.Clear();
        const fs::path result = FindFileWithExtension(folder, "pkg");
        EXPECT_EQ(result, c.found.empty() ? fs::path() : folder / c.found);

        // One line per regular file looked at, up to the match.
        std::set<std::string> expected;
        for (const std::string& f : c.files) {
            const bool match = f == c.found;
            expected.insert((folder / f).string() + (match ? " has " : " does not have ") + " the extension pkg");
        }
        std::set<std::string> seen;
        for (const LogLine& line : log.Lines()) {
            EXPECT_EQ(line.category, "install");
            EXPECT_EQ(line.level, "debug");
            seen.insert(line.message);
        }
        for (const std::string& line : seen)
            EXPECT_EQ(expected.count(line), 1u) << line;
        if (!c.found.empty())
            EXPECT_EQ(seen.count(result.string() + " has  the extension pkg"), 1u);
        else
            EXPECT_EQ(seen, expected);
    }

    // The folder's own dots do not count.
    fs::create_directories(dir.Path() / "x.pkg");
    WriteFile(dir.Path() / "x.pkg" / "plain", "x");
    EXPECT_EQ(FindFileWithExtension(dir.Path() / "x.pkg", "pkg"), fs::path());

    // A missing folder: nothing, no line.
    log.Clear();
    EXPECT_EQ(FindFileWithExtension(dir.Path() / "missing", "pkg"), fs::path());
    EXPECT_TRUE(log.Lines().empty());

    // A file in place of the folder: the error line.
    WriteFile(dir.Path() / "file", "x");
    log.Clear();
    EXPECT_EQ(FindFileWithExtension(dir.Path() / "file", "pkg"), fs::path());
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].category, "update_manager");
    EXPECT_EQ(lines[0].level, "error");
    EXPECT_EQ(lines[0].message.rfind("Error when trying to find file with extension pkg in directory " +
                                         Quoted(dir.Path() / "file") + " : ",
                                     0),
              0u)
        << lines[0];
}

TEST(MakeUniquePath, NumbersAfterTheWholeName)
{
    ScratchFolder dir;
    const fs::path disk = dir.Path() / "disk.dmg";
    EXPECT_EQ(MakeUniquePath(disk), disk);
    WriteFile(disk, "x");
    EXPECT_EQ(MakeUniquePath(disk), dir.Path() / "disk.dmg-1");
    fs::create_directories(dir.Path() / "disk.dmg-1"); // a folder counts as well
    WriteFile(dir.Path() / "disk.dmg-2", "x");
    EXPECT_EQ(MakeUniquePath(disk), dir.Path() / "disk.dmg-3");
    EXPECT_THROW(MakeUniquePath(dir.Path() / std::string(300, 'n')), fs::filesystem_error);
}
