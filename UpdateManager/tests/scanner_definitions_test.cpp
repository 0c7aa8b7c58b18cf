// Reading scanner definition files: what is loaded, and the lines written.

#include "UpdateManager/ScannerDefinitions.h"

#include "Common/Helpers.h"

#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Scanning.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace Quendal::UpdateManager;
namespace fs = boost::filesystem;
using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::Testing::PlatformGuard;
using Quendal::Testing::ScannerLogCategories;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

LogLine Warning(const std::string& message)
{
    return {"update_manager", "warning", message};
}
LogLine Error(const std::string& message)
{
    return {"update_manager", "error", message};
}
LogLine Info(const std::string& message)
{
    return {"update_manager", "info", message};
}

struct Case {
    const char* name;
    std::string json;
    bool loaded;
    std::vector<LogLine> lines;        // "@" in a message stands for the file's path
    std::map<std::string, int> counts; // finders per SKU; -1: no definitions
};

std::vector<LogLine> WithPath(std::vector<LogLine> lines, const std::string& path)
{
    for (LogLine& line : lines) {
        const std::size_t at = line.message.find('@');
        if (at != std::string::npos)
            line.message.replace(at, 1, path);
    }
    return lines;
}

} // namespace

TEST(ScannerDefinitionsLoad, DefinitionFiles)
{
    const std::vector<Case> cases = {
        {"two products",
         R"({"scanner": [
              {"name": "One", "sku": "SKU-1", "rules": [{"file": "/opt/one.exe"},
                                                        {"regkey": ["HKEY_LOCAL_MACHINE\\S\\V\\Dir", "one.exe"]}]},
              {"name": "Two", "sku": "SKU-2", "rules": [{"regkey": ["HKEY_CURRENT_USER\\S\\Dir", "two.exe", "bin"]}]}
            ]})",
         true,
         {Info("2 scan rules to find SKU-1"), Info("1 scan rules to find SKU-2")},
         {{"SKU-1", 2}, {"SKU-2", 1}, {"sku-1", -1}}},
        {"comments outside texts are ignored, inside texts kept",
         "// leading comment\n"
         "{ /* block */ \"scanner\": [ // trailing\n"
         "  /* a block\n     over lines with \"quotes\" and // slashes */\n"
         "  {\"name\": \"http://x/*y*/\", \"sku\": \"S//1\", \"rules\": [{\"file\": \"/a/*b*/c.exe\"}]}\n"
         "]}\n",
         true,
         {Info("1 scan rules to find S//1")},
         {{"S//1", 1}}},
        {"empty scanner array", R"({"scanner": []})", true, {}, {}},
        {"no scanner member",
         R"({"scanners": []})",
         true,
         {Error("'scanner' node not found in scanner definition file: No such node (scanner)")},
         {}},
        {"a root array has no scanner member",
         R"([{"scanner": []}])",
         true,
         {Error("'scanner' node not found in scanner definition file: No such node (scanner)")},
         {}},
        {"bad entries are skipped, the others read",
         R"({"scanner": [
              {"name": "A", "sku": "SA", "rules": [{"file": "/a.exe"}]},
              {"name": "B", "rules": [{"file": "/b.exe"}]},
              {"sku": "SC", "rules": [{"file": "/c.exe"}]},
              {"name": "D", "sku": "SD"},
              {"name": "E", "sku": "SE", "rules": [{"file": "/e.exe"}]}
            ]})",
         true,
         {Info("1 scan rules to find SA"), Warning("Bad scanner definition for product 'B': No such node (sku)"),
          Warning("Bad scanner definition for product '': No such node (name)"),
          Warning("Bad scanner definition for product 'D': No such node (rules)"), Info("1 scan rules to find SE")},
         {{"SA", 1}, {"SC", -1}, {"SD", -1}, {"SE", 1}}},
        {"entries of one SKU share a set",
         R"({"scanner": [
              {"name": "A", "sku": "S", "rules": [{"file": "/a.exe"}]},
              {"name": "A again", "sku": "S", "rules": [{"file": "/b.exe"}, {"file": "/c.exe"}]}
            ]})",
         true,
         {Info("1 scan rules to find S"), Info("3 scan rules to find S")},
         {{"S", 3}}},
        {"bad rules",
         R"({"scanner": [{"name": "A", "sku": "S", "rules": [
              {"regkey": ["HKEY_CURRENT_USER\\S\\Dir"]},
              {"regkey": ["a", "b", "c", "d"]},
              {"regkey": "HKEY_CURRENT_USER\\S\\Dir"},
              {"path": "/x.exe", "file": "/y.exe"},
              {},
              "text",
              42,
              ["file", "/z.exe"],
              {"file": "/ok.exe", "regkey": ["a"]}
            ]}]})",
         true,
         {Warning("Missing a string in RegkeyVersionFinder definition in json 'regkey'"),
          Warning("Could not add Unknown Rule 'regkey'"),
          Warning("Missing a string in RegkeyVersionFinder definition in json 'regkey'"),
          Warning("Could not add Unknown Rule 'regkey'"),
          Warning("Missing a string in RegkeyVersionFinder definition in json 'regkey'"),
          Warning("Could not add Unknown Rule 'regkey'"), Warning("Could not add Unknown Rule 'path'"),
          Warning("Could not add Unknown Rule ''"), Info("1 scan rules to find S")},
         {{"S", 1}}},
        {"only bad rules still define the SKU",
         R"({"scanner": [{"name": "A", "sku": "S", "rules": [{"regkey": ["a"]}]}]})",
         true,
         {Warning("Missing a string in RegkeyVersionFinder definition in json 'regkey'"),
          Warning("Could not add Unknown Rule 'regkey'"), Info("0 scan rules to find S")},
         {{"S", 0}}},
        {"empty rules",
         R"({"scanner": [{"name": "A", "sku": "S", "rules": []}]})",
         true,
         {Info("0 scan rules to find S")},
         {{"S", 0}}},
        {"object-valued scanner: its members in order, names ignored",
         R"({"scanner": {"x": {"name": "A", "sku": "S2", "rules": [{"file": "/a.exe"}]},
                         "y": {"name": "B", "sku": "S1", "rules": []}}})",
         true,
         {Info("1 scan rules to find S2"), Info("0 scan rules to find S1")},
         {{"S1", 0}, {"S2", 1}}},
        {"texts where objects stand are empty",
         R"({"scanner": [{"name": {"n": 1}, "sku": 7, "rules": [{"file": 1.5}]}]})",
         true,
         {Info("1 scan rules to find 7")},
         {{"7", 1}}},
        {"invalid JSON",
         "{\n  \"scanner\": [\n    ,\n]}",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(3): expected value")},
         {}},
        {"line numbers survive comments",
         "/* one\n two\n three */ {\n \"scanner\": [}",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(4): expected value")},
         {}},
        {"an unterminated comment",
         "{\"scanner\": [] /* open",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(1): expected '}' or ','")},
         {}},
        {"empty file",
         "",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(1): expected value")},
         {}},
        {"a text root",
         "// note\n\"scanner\"",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(2): expected object or array")},
         {}},
        {"a number root",
         "42",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(1): expected object or array")},
         {}},
        {"a UTF-8 byte order mark before the root object",
         "\xEF\xBB\xBF{\"scanner\": [{\"name\": \"A\", \"sku\": \"S\", \"rules\": [{\"file\": \"/a.exe\"}]}]}",
         true,
         {Info("1 scan rules to find S")},
         {{"S", 1}}},
        {"a byte order mark before a text root",
         "\xEF\xBB\xBF\n\"scanner\"",
         false,
         {Error(" Caught exception while parsing json file @: <unspecified file>(2): expected object or array")},
         {}},
    };

    ScratchFolder dir;
    const fs::path file = dir.Path() / "definitions.json";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, c.json);
        LogCapture log{ScannerLogCategories};
        const ScannerDefinitions definitions(file);
        EXPECT_EQ(ScannerDefinitionsProbe::IsLoaded(definitions), c.loaded);
        EXPECT_EQ(log.Lines("update_manager"), WithPath(c.lines, file.string()));
        for (const auto& count : c.counts)
            EXPECT_EQ(ScannerDefinitionsProbe::FinderCount(definitions, count.first), count.second) << count.first;
    }
}

TEST(ScannerDefinitionsLoad, FilesThatCannotBeRead)
{
    ScratchFolder dir;
    struct PathCase {
        const char* name;
        fs::path path;
        std::vector<LogLine> lines;
    };
    const std::string longName(300, 'n');
    const std::vector<PathCase> cases = {
        {"empty path",
         fs::path(),
         {Error(" Caught exception while parsing json file : <unspecified file>: read error")}},
        {"missing file", dir.Path() / "missing.json", {Warning("Could not find scanner definition file: @")}},
        {"a folder",
         dir.Path(),
         {Error(" Caught exception while parsing json file @: <unspecified file>: read error")}},
        {"status cannot be read",
         dir.Path() / longName,
         {Warning("Could not examine scanner definition file: @: File name too long")}},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log{ScannerLogCategories};
        const ScannerDefinitions definitions(c.path);
        EXPECT_FALSE(ScannerDefinitionsProbe::IsLoaded(definitions));
        EXPECT_EQ(log.Lines("update_manager"), WithPath(c.lines, c.path.string()));
        EXPECT_TRUE(definitions.CompleteScan().empty());
    }
}

// A pipe would block the reader for ever and a device could never end; an
// oversize file is refused before it is read, and text nested deeper than the
// JSON reader's stack allows is refused before it is parsed.
TEST(ScannerDefinitionsLoad, RefusesWhatCouldBlockNeverEndOrExhaustTheStack)
{
    ScratchFolder dir;
    const fs::path fifo = dir.Path() / "fifo.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path oversize = dir.Path() / "oversize.json";
    WriteFile(oversize, "{\"scanner\": []}");
    fs::resize_file(oversize, Quendal::MaxTextFileSize + 1); // sparse: nothing much written
    const fs::path deep = dir.Path() / "deep.json";
    WriteFile(deep, "{\"scanner\": " + std::string(100000, '[') + std::string(100000, ']') + "}");

    struct PathCase {
        const char* name;
        fs::path path;
        std::string error;
    };
    const std::string tooLarge = "larger than " + std::to_string(Quendal::MaxTextFileSize) + " bytes";
    const std::vector<PathCase> cases = {
        {"a FIFO", fifo, "not a regular file"},
        {"/dev/zero", "/dev/zero", "not a regular file"},
        {"one byte over the limit", oversize, tooLarge},
        {"100,000 levels deep", deep, "nested deeper than 64 levels"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log{ScannerLogCategories};
        const ScannerDefinitions definitions(c.path);
        EXPECT_FALSE(ScannerDefinitionsProbe::IsLoaded(definitions));
        EXPECT_EQ(log.Lines("update_manager"),
                  (std::vector<LogLine>{Error(" Caught exception while parsing json file " + c.path.string() +
                                              ": <unspecified file>: " + c.error)}));
        EXPECT_TRUE(definitions.CompleteScan().empty());
    }
}

TEST(ScannerDefinitionsLoad, TextAtTheLimitsIsRead)
{
    ScratchFolder dir;
    const fs::path file = dir.Path() / "definitions.json";
    const std::string rules = R"({"scanner": [{"name": "A", "sku": "S", "rules": [{"file": "/a.exe"}]}])";

    // Exactly the size limit, padded with blanks.
    const std::string padded = rules + std::string(Quendal::MaxTextFileSize - rules.size() - 1, ' ') + "}";
    ASSERT_EQ(padded.size(), Quendal::MaxTextFileSize);
    // Nested as deep as allowed, in a member of its own; brackets in texts and
    // comments do not count.
    const std::string nested = rules + R"(, "deep": )" + std::string(63, '[') + std::string(63, ']') +
                               R"(, "text": "[[[[[[[[" /* [[[[[[[[ */})";
    for (const std::string& text : {padded, nested}) {
        WriteFile(file, text);
        LogCapture log{ScannerLogCategories};
        const ScannerDefinitions definitions(file);
        EXPECT_TRUE(ScannerDefinitionsProbe::IsLoaded(definitions));
        EXPECT_EQ(ScannerDefinitionsProbe::FinderCount(definitions, "S"), 1);
        EXPECT_EQ(log.Lines("update_manager"), (std::vector<LogLine>{Info("1 scan rules to find S")}));
    }
}

TEST(ScannerDefinitionsLoad, PlaceholdersAreExpandedWhenLoaded)
{
    PlatformGuard guard;
    ScratchFolder dir;
    platform::testing::OverrideKnownFolder(platform::KnownFolderId::ProgramFilesX86, (dir.Path() / "x86").string());
    const fs::path file = dir.Path() / "definitions.json";
    WriteFile(file, R"({"scanner": [{"name": "A", "sku": "S", "rules": [{"file": "<pf86>\\V\\a.exe"}]}]})");
    const ScannerDefinitions definitions(file);
    ASSERT_EQ(ScannerDefinitionsProbe::FinderCount(definitions, "S"), 1);

    // The folder has moved since: the path read at load time still holds.
    platform::testing::OverrideKnownFolder(platform::KnownFolderId::ProgramFilesX86, (dir.Path() / "moved").string());
    fs::create_directories(dir.Path() / "x86" / "V" / "a.exe");
    EXPECT_EQ(definitions.SearchVersion("S").second, "unknown");
}
