#include "UpdateManager/Registry.h"

#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Scanning.h"

#include "platform/Registry.h"
#include "testsupport/RegistryStores.h"
#include "platform/Text.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quendal::UpdateManager;
using platform::NarrowFromWide;
using platform::RegistryHive;
using platform::WideFromNarrow;
namespace RegistryType = platform::RegistryType;
namespace seam = platform::testing;
using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::Testing::PlatformGuard;
using Quendal::Testing::ScannerLogCategories;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

const std::string NoHiveLine = "Reg Key is none of {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}\n The "
                               "registrykey could not be resolved.";

std::vector<uint8_t> Utf16(const std::u16string& text, bool terminate)
{
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

struct Read {
    bool ok;
    std::string value;
};

Read ReadValue(const std::wstring& key, const std::wstring& name)
{
    Read result{false, "untouched"};
    result.ok = ReadRegistryValue(key, name, result.value);
    return result;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seam::UseMemoryRegistryStore();
        seam::SetMemoryRegistryString(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "InstallDir",
                                      "/opt/Vendor/Product");
        seam::SetMemoryRegistryString(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "", "default value");
        seam::SetMemoryRegistryString(RegistryHive::CurrentUser, "Software\\Vendor", "Folder", "/home/u/Vendor");
        seam::SetMemoryRegistryString(RegistryHive::ClassesRoot, "Product.Document\\Shell", "Path", "/usr/share/p");
        seam::SetMemoryRegistryString(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "Expand",
                                      "%ProgramFiles%\\Product", RegistryType::ExpandString);
        seam::SetMemoryRegistryValue(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "Count",
                                     RegistryType::Dword, {5, 0, 0, 0});
        seam::SetMemoryRegistryValue(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "Multi",
                                     RegistryType::MultiString, Utf16(u"/opt/a\0\0", false));
        seam::SetMemoryRegistryValue(RegistryHive::LocalMachine, "SOFTWARE\\Vendor\\Product", "Binary",
                                     RegistryType::Binary, Utf16(u"/opt/a", true));
    }

    PlatformGuard guard;
};

} // namespace

TEST_F(RegistryTest, HivesPathsAndNames)
{
    struct Case {
        std::wstring key;
        std::wstring name;
        bool ok;
        std::string value;
    };
    const std::vector<Case> cases = {
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"InstallDir", true, "/opt/Vendor/Product"},
        {L"hkey_local_machine\\software\\vendor\\PRODUCT", L"installdir", true, "/opt/Vendor/Product"},
        {L"HKEY_CURRENT_USER\\Software\\Vendor", L"Folder", true, "/home/u/Vendor"},
        {L"HKEY_CLASSES_ROOT\\Product.Document\\Shell", L"Path", true, "/usr/share/p"},
        // Nothing has to follow the hive's name: the sub-key starts after the first '\'.
        {L"HKEY_LOCAL_MACHINE_X\\SOFTWARE\\Vendor\\Product", L"InstallDir", true, "/opt/Vendor/Product"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"", true, "default value"},
        {L"HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\Product", L"InstallDir", false, "untouched"}, // other hive
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Other", L"InstallDir", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"Missing", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", L"InstallDir", false, "untouched"}, // value is one key deeper
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\\\Vendor\\Product", L"InstallDir", false, "untouched"},
        // Written with '/': no '\' follows the hive, so the whole path is the sub-key.
        {L"HKEY_LOCAL_MACHINE/SOFTWARE/Vendor/Product", L"InstallDir", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE", L"InstallDir", false, "untouched"},
        // Only REG_SZ is read.
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"Expand", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"Count", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"Multi", false, "untouched"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product", L"Binary", false, "untouched"},
    };
    LogCapture log{ScannerLogCategories};
    for (const Case& c : cases) {
        SCOPED_TRACE(NarrowFromWide(c.key) + " / " + NarrowFromWide(c.name));
        const Read read = ReadValue(c.key, c.name);
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(read.value, c.value);
    }
    EXPECT_TRUE(log.Lines().empty()); // only an unknown hive writes a line
}

TEST_F(RegistryTest, UnknownHiveWritesTheExternalErrorLine)
{
    for (const std::wstring key :
         {L"HKLM\\SOFTWARE\\Vendor\\Product", L"", L"SOFTWARE\\Vendor\\Product", L"HKEY_USERS\\S-1-5\\Software"}) {
        SCOPED_TRACE(NarrowFromWide(key));
        LogCapture log{ScannerLogCategories};
        const Read read = ReadValue(key, L"InstallDir");
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.value, "untouched");
        EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{"external", "error", NoHiveLine}}));
    }
}

TEST_F(RegistryTest, TextLimitsAndConversion)
{
    const std::string key = "SOFTWARE\\Limits";
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        bool ok;
        std::string value;
    };
    const std::u16string e1023(1023, u'\u00e9'), e1024(1024, u'\u00e9');
    std::string utf8e1023;
    for (int i = 0; i < 1023; ++i)
        utf8e1023 += "\xc3\xa9";
    const std::vector<Case> cases = {
        {"2047 characters and the terminator fill the 4,096 bytes", Utf16(std::u16string(2047, u'a'), true), true,
         std::string(2047, 'a')},
        {"2048 characters and the terminator do not fit", Utf16(std::u16string(2048, u'a'), true), false, "untouched"},
        {"4,096 bytes without a terminator: 2,048 bytes of text do not fit the text buffer",
         Utf16(std::u16string(2048, u'a'), false), false, "untouched"},
        {"4,094 bytes without a terminator are read up to their size", Utf16(std::u16string(2047, u'b'), false), true,
         std::string(2047, 'b')},
        {"2,046 bytes of UTF-8 fit", Utf16(e1023, true), true, utf8e1023},
        {"2,048 bytes of UTF-8 do not", Utf16(e1024, true), false, "untouched"},
        {"UTF-8 folder", Utf16(u"/opt/\u00dcn\u00efc\u00f6d\u00e9/\u20ac/\U0001F600", true), true,
         "/opt/\xc3\x9cn\xc3\xaf"
         "c\xc3\xb6"
         "d\xc3\xa9/\xe2\x82\xac/\xf0\x9f\x98\x80"},
        {"a lone high surrogate is refused", Utf16(u"/opt/\xd800x", true), false, "untouched"},
        {"a lone low surrogate is refused", Utf16(u"/opt/\xdc00", true), false, "untouched"},
        {"a high surrogate at the end of the data is refused", Utf16(u"/opt/\xd83d", false), false, "untouched"},
        {"the text ends at its first NUL", Utf16(std::u16string(u"abc\0def", 7), true), true, "abc"},
        {"an odd last byte is ignored", {'A', 0, 'B'}, true, "A"},
        {"empty text", Utf16(u"", true), true, ""},
        {"no data at all", {}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seam::SetMemoryRegistryValue(RegistryHive::CurrentUser, key, "Dir", RegistryType::String, c.data);
        const Read read = ReadValue(L"HKEY_CURRENT_USER\\SOFTWARE\\Limits", L"Dir");
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(read.value, c.value);
    }
}

TEST_F(RegistryTest, NonAsciiKeyAndValueNamesMatchWithoutCase)
{
    seam::SetMemoryRegistryString(RegistryHive::LocalMachine,
                                  "SOFTWARE\\\xc3\x9c"
                                  "ber\\Pr\xc3\xb6"
                                  "dukt",
                                  "Ordner\xc3\x84",
                                  "/opt/\xc3\xbc"
                                  "ber");
    const std::wstring key = WideFromNarrow("HKEY_LOCAL_MACHINE\\software\\\xc3\xbc"
                                            "BER\\PR\xc3\x96"
                                            "DUKT");
    const Read read = ReadValue(key, WideFromNarrow("ordner\xc3\xa4"));
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.value, "/opt/\xc3\xbc"
                          "ber");
}

TEST(RegistryStore, NoStoreOpensNothing)
{
    PlatformGuard guard;
    seam::ClearRegistryStore();
    platform::RegistryKey* key = nullptr;
    EXPECT_EQ(platform::OpenRegistryKey(RegistryHive::LocalMachine, L"", key), platform::RegistryStatus::NotFound);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(ReadValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"").ok);
}

TEST(RegistryStore, KeysAndTypedValuesOfTheLayer)
{
    PlatformGuard guard;
    seam::UseMemoryRegistryStore();
    seam::SetMemoryRegistryValue(RegistryHive::LocalMachine, "A\\B\\C", "V", RegistryType::Qword,
                                 {1, 2, 3, 4, 5, 6, 7, 8});
    seam::AddMemoryRegistryKey(RegistryHive::CurrentUser, "Empty\\Key");

    struct OpenCase {
        RegistryHive hive;
        std::wstring subKey;
        platform::RegistryStatus expected;
    };
    const std::vector<OpenCase> opens = {
        {RegistryHive::LocalMachine, L"", platform::RegistryStatus::Ok},
        {RegistryHive::LocalMachine, L"a", platform::RegistryStatus::Ok}, // a key above a listed one exists
        {RegistryHive::LocalMachine, L"A\\b", platform::RegistryStatus::Ok},
        {RegistryHive::LocalMachine, L"A\\B\\C", platform::RegistryStatus::Ok},
        {RegistryHive::LocalMachine, L"A\\B\\C\\D", platform::RegistryStatus::NotFound},
        {RegistryHive::LocalMachine, L"B", platform::RegistryStatus::NotFound},
        {RegistryHive::LocalMachine, L"A\\", platform::RegistryStatus::NotFound},
        {RegistryHive::LocalMachine, L"\\A", platform::RegistryStatus::NotFound},
        {RegistryHive::CurrentUser, L"Empty\\Key", platform::RegistryStatus::Ok},
        {RegistryHive::ClassesRoot, L"A", platform::RegistryStatus::NotFound},
    };
    for (const OpenCase& c : opens) {
        SCOPED_TRACE(NarrowFromWide(c.subKey));
        platform::RegistryKey* key = nullptr;
        EXPECT_EQ(platform::OpenRegistryKey(c.hive, c.subKey, key), c.expected);
        EXPECT_EQ(key != nullptr, c.expected == platform::RegistryStatus::Ok);
        platform::CloseRegistryKey(key);
    }

    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(platform::OpenRegistryKey(RegistryHive::LocalMachine, L"a\\b\\c", key), platform::RegistryStatus::Ok);
    uint8_t data[8] = {};
    uint32_t type = 0;
    uint32_t size = 4;
    EXPECT_EQ(platform::QueryRegistryValue(key, L"v", type, data, size), platform::RegistryStatus::MoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, RegistryType::Qword);
    EXPECT_EQ(data[0], 0); // not written
    size = sizeof data;
    EXPECT_EQ(platform::QueryRegistryValue(key, L"V", type, data, size), platform::RegistryStatus::Ok);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(data[7], 8);
    EXPECT_EQ(platform::QueryRegistryValue(key, L"", type, data, size), platform::RegistryStatus::NotFound);
    platform::CloseRegistryKey(key);
}

TEST(RegistryStore, JsonFileIsReadAgainOnEveryQuery)
{
    PlatformGuard guard;
    ScratchFolder dir;
    const boost::filesystem::path store = dir.Path() / "registry.json";
    WriteFile(store, R"({
      "HKEY_LOCAL_MACHINE": {
        "SOFTWARE\\Vendor\\Product": {
          "InstallDir": "/opt/one",
          "": "default",
          "Expand": { "type": "REG_EXPAND_SZ", "data": "/opt/expand" },
          "Count": 5,
          "Typed": { "type": "REG_SZ", "data": "/opt/typed \u00e9" },
          "Numbered": { "type": 1, "data": "/opt/numbered" },
          "Raw": { "type": "REG_SZ", "hex": "2f006f007000740000002f00" },
          "Multi": { "type": "REG_MULTI_SZ", "data": ["/a", "/b"] }
        }
      },
      "hkey_current_user": { "Software\\Vendor": { "Folder": "/home/u" } },
      "Comment": "ignored"
    })");
    seam::SetRegistryStoreFile(store.string());

    struct Case {
        std::wstring key;
        std::wstring name;
        bool ok;
        std::string value;
    };
    const std::wstring product = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product";
    const std::vector<Case> cases = {
        {product, L"installdir", true, "/opt/one"},
        {product, L"", true, "default"},
        {product, L"Expand", false, "untouched"},
        {product, L"Count", false, "untouched"},
        {product, L"Typed", true, "/opt/typed \xc3\xa9"},
        {product, L"Numbered", true, "/opt/numbered"},
        {product, L"Raw", true, "/opt"},
        {product, L"Multi", false, "untouched"},
        {L"HKEY_CURRENT_USER\\SOFTWARE\\VENDOR", L"Folder", true, "/home/u"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NarrowFromWide(c.name));
        const Read read = ReadValue(c.key, c.name);
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(read.value, c.value);
    }

    // A changed file is seen by the next query, also through a key opened before.
    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(platform::OpenRegistryKey(RegistryHive::LocalMachine, L"SOFTWARE\\Vendor\\Product", key),
              platform::RegistryStatus::Ok);
    WriteFile(store, R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE\\Vendor\\Product": {"InstallDir": "/opt/two"}}})");
    uint8_t data[64];
    uint32_t type = 0;
    uint32_t size = sizeof data;
    EXPECT_EQ(platform::QueryRegistryValue(key, L"InstallDir", type, data, size), platform::RegistryStatus::Ok);
    EXPECT_EQ(size, 18u); // "/opt/two" and its terminator in UTF-16
    platform::CloseRegistryKey(key);
    EXPECT_EQ(ReadValue(product, L"InstallDir").value, "/opt/two");
    EXPECT_FALSE(ReadValue(product, L"").ok);

    boost::filesystem::remove(store);
    EXPECT_FALSE(ReadValue(product, L"InstallDir").ok);
}

TEST(RegistryStore, BrokenStoreFilesOpenNothing)
{
    PlatformGuard guard;
    ScratchFolder dir;
    const boost::filesystem::path store = dir.Path() / "registry.json";
    seam::SetRegistryStoreFile(store.string());
    const std::vector<std::string> broken = {
        "",
        "not json",
        "[1, 2]",
        R"({"HKEY_LOCAL_MACHINE": []})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": "text"}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE\\\\Vendor": {}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": "a", "v": "b"}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": {"data": "a"}}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": {"type": "REG_TEXT", "data": "a"}}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": {"type": "REG_SZ", "hex": "abc"}}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": {"type": "REG_DWORD", "data": -1}}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": {"type": "REG_DWORD", "data": 4294967296}}}})",
        R"({"HKEY_LOCAL_MACHINE": {"SOFTWARE": {"V": [1]}}})",
    };
    for (const std::string& text : broken) {
        SCOPED_TRACE(text);
        WriteFile(store, text);
        platform::RegistryKey* key = nullptr;
        EXPECT_EQ(platform::OpenRegistryKey(RegistryHive::LocalMachine, L"", key), platform::RegistryStatus::NotFound);
        EXPECT_EQ(key, nullptr);
    }
    // A folder in place of the file.
    seam::SetRegistryStoreFile(dir.Path().string());
    platform::RegistryKey* key = nullptr;
    EXPECT_EQ(platform::OpenRegistryKey(RegistryHive::LocalMachine, L"", key), platform::RegistryStatus::NotFound);
}
