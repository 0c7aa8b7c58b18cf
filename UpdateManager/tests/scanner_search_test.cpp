// Searching installed versions with loaded scanner definitions.

#include "UpdateManager/ScannerDefinitions.h"

#include "Common/Log.h"

#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Scanning.h"

#include "testsupport/PeBuilder.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace Quendal::UpdateManager;
namespace fs = boost::filesystem;
namespace seam = platform::testing;
using platform::RegistryHive;
using Quendal::Testing::BuildPe;
using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::Testing::PeOptions;
using Quendal::Testing::PlatformGuard;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

void WritePe(const fs::path& file, uint16_t major, uint16_t minor)
{
    PeOptions options;
    options.fileVersion[0] = major;
    options.fileVersion[1] = minor;
    options.fileVersion[2] = 0;
    options.fileVersion[3] = 1;
    WriteFile(file, BuildPe(options).bytes);
}

LogLine Info(const std::string& message)
{
    return {"update_manager", "info", message};
}

class ScannerSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seam::UseMemoryRegistryStore();
        seam::OverrideKnownFolder(platform::KnownFolderId::ProgramFilesX86, (dir.Path() / "pf86").string());
        seam::OverrideKnownFolder(platform::KnownFolderId::Profile, (dir.Path() / "home").string());

        WritePe(dir.Path() / "pf86" / "Vendor" / "Alpha" / "alpha.exe", 1, 2);
        fs::create_directories(dir.Path() / "pf86" / "Vendor" / "Beta" / "beta.exe");
        WritePe(dir.Path() / "home" / "Gamma \xc3\xa9" / "bin" / "gamma.exe", 3, 4);
        seam::SetMemoryRegistryString(RegistryHive::CurrentUser, "Software\\Vendor\\Gamma", "InstallDir",
                                      (dir.Path() / "home" / "Gamma \xc3\xa9").string());
        // Non-ASCII key, value name, middle and item parts, written as UTF-8 in the file.
        WritePe(dir.Path() / "home" / "Eps" / "b\xc3\xafn" / "\xc3\xabpsilon.exe", 6, 7);
        seam::SetMemoryRegistryString(RegistryHive::LocalMachine, "SOFTWARE\\\xc3\x8bpsilon", "\xc3\x96rdner",
                                      (dir.Path() / "home" / "Eps").string());

        definitionFile = dir.Path() / "scanner.json";
        WriteFile(definitionFile, R"({
          // One rule per outcome, and a product with two rules.
          "scanner": [
            {"name": "Alpha", "sku": "ALPHA", "rules": [{"file": "<pf86>\\Vendor\\Alpha\\alpha.exe"}]},
            {"name": "Beta", "sku": "BETA", "rules": [{"file": "<pf86>\\Vendor\\Beta\\beta.exe"}]},
            {"name": "Delta", "sku": "DELTA", "rules": [{"file": "<pf86>\\Vendor\\Delta\\delta.exe"}]},
            {"name": "Empty", "sku": "EMPTY", "rules": []},
            {"name": "Epsilon", "sku": "EPSILON", "rules": [
              {"regkey": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\\u00cbpsilon\\\u00f6rdner", "\u00ebpsilon.exe", "b\u00efn"]}
            ]},
            {"name": "Gamma", "sku": "GAMMA", "rules": [
              {"file": "<pf86>\\Vendor\\Gamma\\gamma.exe"},
              {"regkey": ["hkey_current_user\\Software\\Vendor\\Gamma\\InstallDir", "gamma.exe", "bin"]}
            ]}
          ]
        })");
    }

    PlatformGuard guard;
    ScratchFolder dir;
    fs::path definitionFile;
};

} // namespace

TEST_F(ScannerSearchTest, SearchVersionOutcomes)
{
    const ScannerDefinitions definitions(definitionFile);
    ASSERT_TRUE(ScannerDefinitionsProbe::IsLoaded(definitions));
    struct Case {
        std::string sku;
        std::string version;
    };
    const std::vector<Case> cases = {
        {"ALPHA", "1.2.0.1"},       {"BETA", "unknown"}, // the item is a folder without a version
        {"DELTA", "not_installed"},                      // no item
        {"EMPTY", "not_installed"},                      // defined without rules
        {"EPSILON", "6.7.0.1"},                          // non-ASCII registry and item texts
        {"GAMMA", "3.4.0.1"},                            // the file rule fails, the registry rule finds it
        {"alpha", "not_installed"},                      // SKUs are matched exactly
        {"OMEGA", "not_installed"}, {"", "not_installed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        LogCapture log({"update_manager"});
        const std::pair<ProductKey, std::string> result = definitions.SearchVersion(c.sku);
        EXPECT_EQ(result.first, ProductKey(c.sku, "soft"));
        EXPECT_EQ(result.second, c.version);
        const std::vector<LogLine> info = log.Lines();
        ASSERT_GE(info.size(), 2u);
        EXPECT_EQ(info.front(), Info("Searching for " + c.sku));
        EXPECT_EQ(info.back(), Info("Found " + c.sku + "/" + c.version));
    }
}

TEST_F(ScannerSearchTest, CompleteScanReportsEverySku)
{
    const ScannerDefinitions definitions(definitionFile);
    LogCapture log({"update_manager", "timing"});
    const std::map<ProductKey, std::string> expected = {
        {ProductKey("ALPHA", "soft"), "1.2.0.1"},       {ProductKey("BETA", "soft"), "unknown"},
        {ProductKey("DELTA", "soft"), "not_installed"}, {ProductKey("EMPTY", "soft"), "not_installed"},
        {ProductKey("EPSILON", "soft"), "6.7.0.1"},     {ProductKey("GAMMA", "soft"), "3.4.0.1"},
    };
    EXPECT_EQ(definitions.CompleteScan(), expected);

    const std::vector<LogLine> lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), Info("Complete Scan"));
    EXPECT_EQ(lines.back().category, "timing");
    EXPECT_EQ(lines.back().level, "notice");
    EXPECT_TRUE(std::regex_match(lines.back().message, std::regex("Complete Scan : [0-9]+ ms"))) << lines.back();
    for (const LogLine& line : lines) // no line per SKU
        EXPECT_TRUE(line.level != "info" || line.message == "Complete Scan") << line;
}

TEST_F(ScannerSearchTest, EmptyPathAnswersNotInstalled)
{
    LogCapture log({"update_manager", "timing"});
    const ScannerDefinitions definitions(fs::path(""));
    EXPECT_FALSE(ScannerDefinitionsProbe::IsLoaded(definitions));
    log.Clear();

    const std::pair<ProductKey, std::string> result = definitions.SearchVersion("ALPHA");
    EXPECT_EQ(result.first, ProductKey("ALPHA", "soft"));
    EXPECT_EQ(result.second, "not_installed");
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{Info("Searching for ALPHA"), Info("Found ALPHA/not_installed")}));

    log.Clear();
    EXPECT_TRUE(definitions.CompleteScan().empty());
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Info("Complete Scan"));
    EXPECT_EQ(lines[1].category, "timing");
}

TEST_F(ScannerSearchTest, FileIsReadOnceItemsOnEverySearch)
{
    const ScannerDefinitions definitions(definitionFile);
    EXPECT_EQ(definitions.SearchVersion("ALPHA").second, "1.2.0.1");

    // Later changes to the definition file are not seen...
    WriteFile(definitionFile, R"({"scanner": []})");
    // ...but changes to the files and the registry are.
    WritePe(dir.Path() / "pf86" / "Vendor" / "Alpha" / "alpha.exe", 1, 3);
    WritePe(dir.Path() / "pf86" / "Vendor" / "Delta" / "delta.exe", 5, 0);
    seam::SetMemoryRegistryString(RegistryHive::CurrentUser, "Software\\Vendor\\Gamma", "InstallDir",
                                  (dir.Path() / "nowhere").string());
    EXPECT_EQ(definitions.SearchVersion("ALPHA").second, "1.3.0.1");
    EXPECT_EQ(definitions.SearchVersion("DELTA").second, "5.0.0.1");
    EXPECT_EQ(definitions.SearchVersion("GAMMA").second, "not_installed");

    // A registry store file: a change is seen by the next search.
    const fs::path store = dir.Path() / "registry.json";
    auto writeStore = [&store](const fs::path& folder) {
        std::string escaped;
        for (char c : folder.string()) {
            if (c == '\\' || c == '"')
                escaped += '\\';
            escaped += c;
        }
        WriteFile(store,
                  "{\"HKEY_CURRENT_USER\": {\"Software\\\\Vendor\\\\Gamma\": {\"InstallDir\": \"" + escaped + "\"}}}");
    };
    seam::SetRegistryStoreFile(store.string());
    writeStore(dir.Path() / "nowhere");
    EXPECT_EQ(definitions.SearchVersion("GAMMA").second, "not_installed");
    writeStore(dir.Path() / "home" / "Gamma \xc3\xa9");
    EXPECT_EQ(definitions.SearchVersion("GAMMA").second, "3.4.0.1");
}
