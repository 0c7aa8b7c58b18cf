// Known folders on Linux: the XDG user-dirs file, $HOME, the fixed folders,
// and the paths that cannot be given as narrow text.

#include "platform/KnownFolders.h"
#include "testsupport/Files.h"
#include "testsupport/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::FolderLookup;
using platform::KnownFolderId;
using Quendal::Testing::ScopedEnvironment;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

class KnownFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override { platform::testing::ClearKnownFolderOverrides(); }

    void WriteUserDirs(const std::string& configDir, const std::string& text)
    {
        WriteFile(configDir + "/user-dirs.dirs", text);
    }

    struct Result {
        FolderLookup lookup;
        std::string path;
        int error;
    };
    static Result Lookup(KnownFolderId id)
    {
        Result result{FolderLookup::NotFound, "untouched", 0};
        result.lookup = platform::LookupKnownFolder(id, result.path, result.error);
        return result;
    }

    ScratchFolder scratch;
    std::string home = scratch.Path().string();
    ScopedEnvironment environment{"HOME", "XDG_CONFIG_HOME"};
};

struct UserDirsCase {
    const char* name;
    const char* configHome; // nullptr: unset; "@" stands for a directory under HOME other than .config
    const char* text;       // nullptr: no file
    const char* downloads;  // expected, "~" stands for HOME
    const char* desktop;
};

std::string Expand(const std::string& text, const std::string& home)
{
    if (!text.empty() && text[0] == '~')
        return home + text.substr(1);
    return text;
}

TEST_F(KnownFolders, UserDirsTable)
{
    const UserDirsCase cases[] = {
        {"no file", nullptr, nullptr, "~/Downloads", "~/Desktop"},
        {"relative to HOME", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/Dl\"\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n", "~/Dl",
         "~/Desk"},
        {"trailing separators", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/Dl//\"\n", "~/Dl", "~/Desktop"},
        {"absolute", nullptr, "XDG_DOWNLOAD_DIR=\"/srv/downloads\"\n", "/srv/downloads", "~/Desktop"},
        {"HOME itself", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME\"\nXDG_DESKTOP_DIR=\"$HOME/\"\n", "~", "~"},
        {"comments and blanks", nullptr, "# XDG_DOWNLOAD_DIR=\"$HOME/No\"\n\n  \nXDG_DESKTOP_DIR=\"$HOME/D\"\n",
         "~/Downloads", "~/D"},
        {"indented, CRLF", nullptr, "  XDG_DOWNLOAD_DIR=\"$HOME/Dl\"\r\n", "~/Dl", "~/Desktop"},
        {"unquoted is ignored", nullptr, "XDG_DOWNLOAD_DIR=$HOME/Dl\n", "~/Downloads", "~/Desktop"},
        {"relative is ignored", nullptr, "XDG_DOWNLOAD_DIR=\"Dl\"\n", "~/Downloads", "~/Desktop"},
        {"other variable than HOME", nullptr, "XDG_DOWNLOAD_DIR=\"$HOMEDIR/Dl\"\n", "~/Downloads", "~/Desktop"},
        {"name prefix only", nullptr, "XDG_DOWNLOAD_DIRS=\"$HOME/No\"\n", "~/Downloads", "~/Desktop"},
        {"the last assignment holds", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/A\"\nXDG_DOWNLOAD_DIR=\"$HOME/B\"\n", "~/B",
         "~/Desktop"},
        {"empty value is ignored", nullptr, "XDG_DOWNLOAD_DIR=\"\"\n", "~/Downloads", "~/Desktop"},
        {"no final newline", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/Dl\"", "~/Dl", "~/Desktop"},
        {"UTF-8 passed through", nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/T\xc3\xa9l\xc3\xa9\x63hargements\"\n",
         "~/T\xc3\xa9l\xc3\xa9\x63hargements", "~/Desktop"},
        {"XDG_CONFIG_HOME elsewhere", "@", "XDG_DOWNLOAD_DIR=\"$HOME/Elsewhere\"\n", "~/Elsewhere", "~/Desktop"},
        {"XDG_CONFIG_HOME without a file", "@", nullptr, "~/Downloads", "~/Desktop"},
        {"XDG_CONFIG_HOME relative is ignored", "relative/dir", "XDG_DOWNLOAD_DIR=\"$HOME/Dl\"\n", "~/Dl", "~/Desktop"},
        {"XDG_CONFIG_HOME empty is ignored", "", "XDG_DOWNLOAD_DIR=\"$HOME/Dl\"\n", "~/Dl", "~/Desktop"},
    };
    for (const UserDirsCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(home + "/.config", ec);
        fs::remove_all(home + "/other-config", ec);
        std::string configDir = home + "/.config";
        if (c.configHome == nullptr) {
            unsetenv("XDG_CONFIG_HOME");
        } else if (std::string(c.configHome) == "@") {
            configDir = home + "/other-config";
            setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
            // A file in the default place that must not be read.
            WriteUserDirs(home + "/.config", "XDG_DOWNLOAD_DIR=\"$HOME/Wrong\"\n");
        } else {
            setenv("XDG_CONFIG_HOME", c.configHome, 1);
        }
        if (c.text != nullptr)
            WriteUserDirs(configDir, c.text);

        const Result downloads = Lookup(KnownFolderId::Downloads);
        EXPECT_EQ(downloads.lookup, FolderLookup::Found);
        EXPECT_EQ(downloads.path, Expand(c.downloads, home));
        const Result desktop = Lookup(KnownFolderId::Desktop);
        EXPECT_EQ(desktop.lookup, FolderLookup::Found);
        EXPECT_EQ(desktop.path, Expand(c.desktop, home));
    }
}

TEST_F(KnownFolders, ProfileAndTheFixedFolders)
{
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, home);
    EXPECT_EQ(Lookup(KnownFolderId::ProgramData).path, "/var/opt");
    EXPECT_EQ(Lookup(KnownFolderId::ProgramFilesX86).path, "/opt");
    EXPECT_EQ(Lookup(KnownFolderId::ProgramFilesX64).path, "/opt");

    setenv("HOME", (home + "//").c_str(), 1);
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, home) << "no trailing separator";
    EXPECT_EQ(Lookup(KnownFolderId::Downloads).path, home + "/Downloads");

    setenv("HOME", "/", 1);
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, "/");
    EXPECT_EQ(Lookup(KnownFolderId::Downloads).path, "/Downloads");
}

TEST_F(KnownFolders, WithoutHomeTheUsersEntryIsUsed)
{
    passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    std::string expected = entry->pw_dir;
    while (expected.size() > 1 && expected.back() == '/')
        expected.pop_back();
    unsetenv("HOME");
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, expected);
    setenv("HOME", "", 1);
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, expected);
}

TEST_F(KnownFolders, PathsThatCannotBeNarrowTextAreConversionFailures)
{
    struct Case {
        const char* name;
        std::string homeValue;
        FolderLookup lookup;
        int error;
    } cases[] = {
        {"invalid byte", home + "/bad\xff", FolderLookup::ConversionFailed, EILSEQ},
        {"truncated sequence", home + "/bad\xc3", FolderLookup::ConversionFailed, EILSEQ},
        {"over-long encoding", home + "/bad\xc0\xaf", FolderLookup::ConversionFailed, EILSEQ},
        {"surrogate", home + "/bad\xed\xa0\x80", FolderLookup::ConversionFailed, EILSEQ},
        {"four-byte character", home + "/ok\xf0\x9f\x98\x80", FolderLookup::Found, 0},
        {"259 bytes", (home + "/").append(259 - home.size() - 1, 'd'), FolderLookup::Found, 0},
        {"260 bytes", (home + "/").append(260 - home.size() - 1, 'd'), FolderLookup::ConversionFailed, ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("HOME", c.homeValue.c_str(), 1);
        const Result result = Lookup(KnownFolderId::Profile);
        EXPECT_EQ(result.lookup, c.lookup);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.path, c.lookup == FolderLookup::Found ? c.homeValue : "untouched");
    }

    // The Downloads folder derived from a long HOME is longer still.
    setenv("HOME", (home + "/").append(250 - home.size() - 1, 'd').c_str(), 1);
    EXPECT_EQ(Lookup(KnownFolderId::Profile).lookup, FolderLookup::Found);
    EXPECT_EQ(Lookup(KnownFolderId::Downloads).lookup, FolderLookup::ConversionFailed);
}

TEST_F(KnownFolders, TheSeamAnswersInsteadOfTheSystem)
{
    platform::testing::OverrideKnownFolder(KnownFolderId::Downloads, std::string("/seam/downloads"));
    platform::testing::OverrideKnownFolder(KnownFolderId::ProgramData, std::nullopt);
    platform::testing::OverrideKnownFolder(KnownFolderId::Desktop, std::string(""));
    EXPECT_EQ(Lookup(KnownFolderId::Downloads).path, "/seam/downloads");
    const Result absent = Lookup(KnownFolderId::ProgramData);
    EXPECT_EQ(absent.lookup, FolderLookup::NotFound);
    EXPECT_EQ(absent.path, "untouched");
    EXPECT_EQ(Lookup(KnownFolderId::Desktop).lookup, FolderLookup::NotFound);
    EXPECT_EQ(Lookup(KnownFolderId::Profile).path, home) << "others unchanged";

    platform::testing::ClearKnownFolderOverrides();
    EXPECT_EQ(Lookup(KnownFolderId::Downloads).path, home + "/Downloads");
    EXPECT_EQ(Lookup(KnownFolderId::ProgramData).path, "/var/opt");
}

} // namespace
