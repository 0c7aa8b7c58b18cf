#include "UpdateManager/Registry.h"
#include "UpdateManager/VersionFinder.h"

#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Scanning.h"

#include "testsupport/PeBuilder.h"
#include "testsupport/RegistryStores.h"
#include "platform/Text.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace Quendal::UpdateManager;
namespace fs = boost::filesystem;
namespace seam = platform::testing;
using platform::KnownFolderId;
using platform::NarrowFromWide;
using platform::RegistryHive;
using Quendal::Testing::BuildPe;
using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::Testing::PeOptions;
using Quendal::Testing::PlatformGuard;
using Quendal::Testing::ScannerLogCategories;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

void WritePe(const fs::path& file, uint16_t major, uint16_t minor, uint16_t build, uint16_t revision)
{
    PeOptions options;
    options.fileVersion[0] = major;
    options.fileVersion[1] = minor;
    options.fileVersion[2] = build;
    options.fileVersion[3] = revision;
    WriteFile(file, BuildPe(options).bytes);
}

struct Answer {
    Answer(bool ok, std::string version, bool itemFound)
        : ok(ok)
        , version(std::move(version))
        , itemFound(itemFound)
    {
    }

    bool ok;
    std::string version;
    bool itemFound;

    bool operator==(const Answer& other) const
    {
        return ok == other.ok && version == other.version && itemFound == other.itemFound;
    }
};

std::ostream& operator<<(std::ostream& out, const Answer& a)
{
    return out << "{" << a.ok << ", " << a.version << ", " << a.itemFound << "}";
}

Answer Ask(const VersionFinder& finder)
{
    Answer answer{false, "untouched", false};
    answer.itemFound = !answer.itemFound; // must be written
    answer.ok = finder.FindVersion(answer.version, answer.itemFound);
    return answer;
}

// A finder that answers what it is told and counts its calls.
class FixedFinder : public VersionFinder {
public:
    FixedFinder(bool ok, bool item, std::string version, int& calls)
        : ok(ok)
        , item(item)
        , version(std::move(version))
        , calls(calls)
    {
    }
    bool FindVersion(std::string& out, bool& itemFound) const override
    {
        ++calls;
        itemFound = item;
        if (ok)
            out = version;
        return ok;
    }

private:
    bool ok;
    bool item;
    std::string version;
    int& calls;
};

class VersionFinderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seam::UseMemoryRegistryStore();
        seam::OverrideKnownFolder(KnownFolderId::ProgramFilesX86, (dir.Path() / "pf86").string());
        seam::OverrideKnownFolder(KnownFolderId::ProgramFilesX64, (dir.Path() / "pf64").string());
        seam::OverrideKnownFolder(KnownFolderId::ProgramData, (dir.Path() / "data").string());
        seam::OverrideKnownFolder(KnownFolderId::Profile, (dir.Path() / "user").string());
    }

    PlatformGuard guard;
    ScratchFolder dir;
};

} // namespace

TEST_F(VersionFinderTest, ExpandsPlaceholdersOnlyAtTheStart)
{
    const std::string root = dir.Path().string();
    seam::OverrideKnownFolder(KnownFolderId::Downloads, std::nullopt);
    struct Case {
        std::string path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"<pf86>\\Vendor\\app.exe", root + "/pf86\\Vendor\\app.exe"},
        {"<pf64>\\Vendor\\app.exe", root + "/pf64\\Vendor\\app.exe"},
        {"<data>/Vendor/app.exe", root + "/data/Vendor/app.exe"},
        {"<user>", root + "/user"},
        {"<user>app.exe", root + "/userapp.exe"}, // no separator is added
        {"<PF86>\\Vendor\\app.exe", "<PF86>\\Vendor\\app.exe"},
        {"<pf86\\Vendor\\app.exe", "<pf86\\Vendor\\app.exe"},
        {"\\<pf86>\\app.exe", "\\<pf86>\\app.exe"},
        {"C:\\<pf86>\\app.exe", "C:\\<pf86>\\app.exe"},
        {"<downloads>\\app.exe", "<downloads>\\app.exe"},
        {"<pf86>>\\app.exe", root + "/pf86>\\app.exe"},
        {"<>", "<>"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandPathPlaceholders(c.path), c.expected) << c.path;

    // A failed lookup leaves the placeholder.
    seam::OverrideKnownFolder(KnownFolderId::ProgramFilesX86, std::nullopt);
    EXPECT_EQ(ExpandPathPlaceholders("<pf86>\\app.exe"), "<pf86>\\app.exe");
}

TEST_F(VersionFinderTest, FileFinder)
{
    WritePe(dir.Path() / "pf86" / "Vendor" / "app.exe", 10, 2, 300, 4);
    fs::create_directories(dir.Path() / "user" / "Folder.exe");
    WriteFile(dir.Path() / "data" / "readme.txt", "not a program");
    PeOptions noVersion;
    noVersion.withVersionType = false;
    WriteFile(dir.Path() / "data" / "plain.exe", BuildPe(noVersion).bytes);

    struct Case {
        std::string rule;
        Answer expected;
    };
    const std::string root = dir.Path().string();
    const std::vector<Case> cases = {
        {"<pf86>\\Vendor\\app.exe", {true, "10.2.300.4", true}},
        {root + "\\pf86\\Vendor\\app.exe", {true, "10.2.300.4", true}},
        {root + "/pf86/Vendor/app.exe", {true, "10.2.300.4", true}},
        {"<user>\\Folder.exe", {false, "untouched", true}}, // a folder: found, no version
        {"<data>\\readme.txt", {false, "untouched", true}}, // not a PE file
        {"<data>\\plain.exe", {false, "untouched", true}},  // no version resource
        {"<pf86>\\Vendor\\missing.exe", {false, "untouched", false}},
        {"<PF86>\\Vendor\\app.exe", {false, "untouched", false}},
        {"<data>\\readme.txt\\app.exe", {false, "untouched", false}},
        {root + "/" + std::string(300, 'n'), {false, "untouched", false}}, // the status query fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        LogCapture log{ScannerLogCategories};
        const FileVersionFinder finder(c.rule);
        EXPECT_EQ(Ask(finder), c.expected);
        std::vector<LogLine> expectedLines;
        if (c.expected.ok)
            expectedLines.push_back({"update_manager", "debug",
                                     "FileVersion: Found version 10.2.300.4 for item " + finder.GetPath().string()});
        EXPECT_EQ(log.Lines(), expectedLines);
    }
    EXPECT_EQ(FileVersionFinder("<pf86>\\Vendor\\app.exe").GetPath().string(), root + "/pf86/Vendor/app.exe");
}

TEST_F(VersionFinderTest, PlaceholderIsExpandedWhenTheFinderIsMade)
{
    const FileVersionFinder finder("<user>\\app.exe");
    seam::OverrideKnownFolder(KnownFolderId::Profile, (dir.Path() / "elsewhere").string());
    WritePe(dir.Path() / "user" / "app.exe", 1, 0, 0, 0);
    EXPECT_EQ(Ask(finder), (Answer{true, "1.0.0.0", true}));
}

TEST_F(VersionFinderTest, RegKeyFinderSplitsTheValuePath)
{
    struct Case {
        std::wstring valuePath;
        std::wstring keyPath;
        std::wstring valueName;
    };
    const std::vector<Case> cases = {
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product",
         L"InstallDir"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", L""},
        {L"HKEY_LOCAL_MACHINE/SOFTWARE/Vendor/InstallDir", L"HKEY_LOCAL_MACHINE/SOFTWARE/Vendor", L"InstallDir"},
        {L"HKEY_CURRENT_USER\\Software/Vendor", L"HKEY_CURRENT_USER\\Software", L"Vendor"},
        {L"InstallDir", L"InstallDir", L"InstallDir"},
    };
    for (const Case& c : cases) {
        const RegKeyVersionFinder finder(c.valuePath, L"item.exe", L"");
        EXPECT_EQ(finder.GetKeyPath(), c.keyPath);
        EXPECT_EQ(finder.GetValueName(), c.valueName);
        EXPECT_EQ(finder.GetItemPart(), L"item.exe");
        EXPECT_EQ(finder.GetMiddlePart(), L"");
    }
}

TEST_F(VersionFinderTest, RegKeyFinder)
{
    const fs::path product = dir.Path() / "Product \xc3\x9c";
    WritePe(product / "bin" / "app.exe", 2, 5, 0, 17);
    WritePe(product / "app.exe", 2, 0, 0, 0);
    fs::create_directories(product / "docs");
    const std::string folder = product.string();
    const std::string key = "SOFTWARE\\Vendor\\Product";
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine, key, "InstallDir", folder);
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine, key, "", folder + "\\bin");
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine, key, "Trailing", folder + "/");
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine, key, "Empty", "");
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine, key, "Expand", folder,
                                  platform::RegistryType::ExpandString);

    const std::wstring value = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\";
    struct Case {
        std::wstring valueName;
        std::wstring item;
        std::wstring middle;
        Answer expected;
    };
    const std::vector<Case> cases = {
        {L"InstallDir", L"app.exe", L"bin", {true, "2.5.0.17", true}}, // folder, middle part, item part
        {L"InstallDir", L"app.exe", L"", {true, "2.0.0.0", true}},
        {L"InstallDir", L"bin\\app.exe", L"", {true, "2.5.0.17", true}},
        {L"InstallDir", L"app.exe", L"\\bin\\", {true, "2.5.0.17", true}},
        {L"Trailing", L"app.exe", L"", {true, "2.0.0.0", true}},
        {L"", L"app.exe", L"", {true, "2.5.0.17", true}}, // the default value, with a '\' in the folder
        {L"InstallDir", L"docs", L"", {false, "untouched", true}},
        {L"InstallDir", L"", L"", {false, "untouched", true}}, // the folder itself
        {L"InstallDir", L"missing.exe", L"bin", {false, "untouched", false}},
        {L"InstallDir", L"bin", L"app.exe", {false, "untouched", false}}, // the middle part comes first
        {L"Missing", L"app.exe", L"", {false, "untouched", false}},
        {L"Expand", L"app.exe", L"", {false, "untouched", false}},
        // An empty folder never names the current folder.
        {L"Empty", L".", L"", {false, "untouched", false}},
        {L"Empty", L"", L"", {false, "untouched", false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NarrowFromWide(c.valueName + L" / " + c.middle + L" / " + c.item));
        LogCapture log{ScannerLogCategories};
        const RegKeyVersionFinder finder(value + c.valueName, c.item, c.middle);
        EXPECT_EQ(Ask(finder), c.expected);
        std::vector<LogLine> expectedLines;
        if (c.expected.ok)
            expectedLines.push_back({"update_manager", "debug",
                                     "RegKeyVersion: Found version " + c.expected.version +
                                         " for item HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product/" +
                                         NarrowFromWide(c.valueName)});
        EXPECT_EQ(log.Lines(), expectedLines);
    }

    // A key or value that is not there, and an unknown hive.
    EXPECT_EQ(Ask(RegKeyVersionFinder(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\InstallDir", L"app.exe", L"")),
              (Answer{false, "untouched", false}));
    LogCapture log{ScannerLogCategories};
    EXPECT_EQ(Ask(RegKeyVersionFinder(L"HKLM\\SOFTWARE\\Vendor\\Product\\InstallDir", L"app.exe", L"")),
              (Answer{false, "untouched", false}));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].category, "external");
}

TEST_F(VersionFinderTest, NothingIsCached)
{
    const fs::path one = dir.Path() / "one";
    const fs::path two = dir.Path() / "two";
    WritePe(one / "app.exe", 1, 0, 0, 0);
    WritePe(two / "app.exe", 2, 0, 0, 0);
    seam::SetMemoryRegistryString(RegistryHive::CurrentUser, "Software\\Vendor", "Dir", one.string());

    const RegKeyVersionFinder byRegistry(L"HKEY_CURRENT_USER\\Software\\Vendor\\Dir", L"app.exe", L"");
    const FileVersionFinder byFile((one / "app.exe").string());
    EXPECT_EQ(Ask(byRegistry).version, "1.0.0.0");
    EXPECT_EQ(Ask(byFile).version, "1.0.0.0");

    seam::SetMemoryRegistryString(RegistryHive::CurrentUser, "Software\\Vendor", "Dir", two.string());
    WritePe(one / "app.exe", 1, 5, 0, 0);
    EXPECT_EQ(Ask(byRegistry).version, "2.0.0.0");
    EXPECT_EQ(Ask(byFile).version, "1.5.0.0");

    fs::remove(one / "app.exe");
    EXPECT_EQ(Ask(byFile), (Answer{false, "untouched", false}));
}

TEST(VersionFinderSet, AsksInOrderUntilOneFindsAVersion)
{
    struct Spec {
        bool ok;
        bool item;
        const char* version;
    };
    struct Case {
        const char* name;
        std::vector<Spec> finders;
        Answer expected;
        std::vector<int> calls;
    };
    const std::vector<Case> cases = {
        {"empty set", {}, {false, "not_installed", false}, {}},
        {"first finds", {{true, true, "1.0.0.0"}, {true, true, "2.0.0.0"}}, {true, "1.0.0.0", true}, {1, 0}},
        {"failing file, then a version",
         {{false, false, ""}, {true, true, "2.0.0.0"}},
         {true, "2.0.0.0", true},
         {1, 1}},
        {"folder without version, then nothing",
         {{false, true, ""}, {false, false, ""}},
         {false, "unknown", true},
         {1, 1}},
        {"nothing, then an item without version",
         {{false, false, ""}, {false, true, ""}},
         {false, "unknown", true},
         {1, 1}},
        {"nothing at all", {{false, false, ""}, {false, false, ""}}, {false, "not_installed", false}, {1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> calls(c.finders.size(), 0);
        VersionFinderSet set;
        for (std::size_t i = 0; i < c.finders.size(); ++i)
            set.Add(std::make_unique<FixedFinder>(c.finders[i].ok, c.finders[i].item, c.finders[i].version, calls[i]));
        EXPECT_EQ(set.Count(), c.finders.size());
        LogCapture log{ScannerLogCategories};
        EXPECT_EQ(Ask(set), c.expected);
        EXPECT_EQ(calls, c.calls);
        std::vector<LogLine> expectedLines;
        if (!c.expected.ok)
            expectedLines.push_back({"update_manager", "debug", "VersionFinderSet: Didn't find any version number."});
        EXPECT_EQ(log.Lines(), expectedLines);
    }
}

TEST(ReadFileVersion, GivesFourDecimalParts)
{
    ScratchFolder dir;
    WritePe(dir.Path() / "a.exe", 65535, 0, 7, 65534);
    std::string version = "untouched";
    EXPECT_TRUE(ReadFileVersion((dir.Path() / "a.exe").string(), version));
    EXPECT_EQ(version, "65535.0.7.65534");
    version = "untouched";
    EXPECT_FALSE(ReadFileVersion((dir.Path() / "b.exe").string(), version));
    EXPECT_FALSE(ReadFileVersion(dir.Path().string(), version));
    EXPECT_EQ(version, "untouched");
}
