#include "UpdateManager/ProductDescriptionFactory.h"
#include "UpdateManager/Resources.h"
#include "UpdateManager/ResourcesApi.h"
#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "platform/Path.h"

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace Quendal::UpdateManager;
using Quendal::Testing::LogCapture;
using Quendal::Testing::ReadFile;
using Quendal::Testing::WriteFile;
namespace pt = boost::property_tree;
namespace fs = boost::filesystem;

namespace {

// The categories this file is about.
const std::vector<std::string> Categories = {"update_manager", "description"};

pt::ptree Json(const std::string& text)
{
    std::istringstream in(text);
    pt::ptree tree;
    pt::read_json(in, tree);
    return tree;
}

} // namespace

TEST(ResourcesApiPath, JoinsPiecesUnescaped)
{
    EXPECT_EQ(ResourcesApiPath("ABC", "soft", "windows", "latest"), "/api/resources/soft/ABC/windows/latest");
    EXPECT_EQ(ResourcesApiPath("A B/C", "soft", "windows", "latest"), "/api/resources/soft/A B/C/windows/latest");
    EXPECT_EQ(ResourcesApiPath("sku", "firmware", "mac", "1.2"), "/api/resources/firmware/sku/mac/1.2");
    EXPECT_EQ(ResourcesApiPath("", "", "", ""), "/api/resources////");
}

TEST(ResourceResponse, ChecksTheAnswer)
{
    struct Case {
        std::string json;
        bool valid;
        std::string firstSku; // of the kept resource, when valid
        std::string level;    // of the one expected log line; empty: no line
        std::string message;  // exact, or a prefix when it ends with ": "
    };
    const std::string one = R"({"product_sku": "A"})";
    const std::string two = R"({"product_sku": "B"})";
    const std::string three = R"({"product_sku": "C"})";
    const std::vector<Case> cases = {
        {R"({"total": 1, "resources": [)" + one + "]}", true, "A", "", ""},
        {R"({"total": "1", "resources": [)" + one + "]}", true, "A", "", ""},
        {R"({"total": 3, "resources": [)" + one + "," + two + "," + three + "], \"extra\": 1}", true, "A", "", ""},
        {R"({"total": 2, "resources": [)" + one + "]}", false, "", "error",
         "Invalid resources: got 1 while total indicates 2"},
        {R"({"total": 1, "resources": [)" + one + "," + two + "]}", false, "", "error",
         "Invalid resources: got 2 while total indicates 1"},
        {R"({"total": -1, "resources": [)" + one + "]}", false, "", "error",
         "Invalid resources: got 1 while total indicates -1"},
        {R"({"total": 0, "resources": []})", false, "", "warning", "Resource is empty"},
        {R"({"total": 1, "resources": []})", false, "", "warning", "Resource is empty"},
        {R"({"total": 0, "resources": "abc"})", false, "", "warning", "Resource is empty"},
        {R"({"total": 0, "resources": 5})", false, "", "warning", "Resource is empty"},
        // An object counts its members like an array its elements; its first
        // member is the resource.
        {R"({"total": 2, "resources": {"x": {"product_sku": "A"}, "y": {"product_sku": "B"}}})", true, "A", "", ""},
        {R"({"total": 1, "resources": {"x": {"product_sku": "A"}, "y": {"product_sku": "B"}}})", false, "", "error",
         "Invalid resources: got 2 while total indicates 1"},
        {R"({"total": 0, "resources": {}})", false, "", "warning", "Resource is empty"},
        {R"({"resources": [)" + one + "]}", false, "", "error", "Error in resource parsing: "},
        {R"({"total": "one", "resources": [)" + one + "]}", false, "", "error", "Error in resource parsing: "},
        {R"({"total": 1.5, "resources": [)" + one + "]}", false, "", "error", "Error in resource parsing: "},
        {R"({"total": 99999999999, "resources": [)" + one + "]}", false, "", "error", "Error in resource parsing: "},
        {R"({"total": {}, "resources": [)" + one + "]}", false, "", "error", "Error in resource parsing: "},
        {R"({"total": 1})", false, "", "error", "Error in resource parsing: "},
        {R"([1, 2])", false, "", "error", "Error in resource parsing: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        LogCapture capture{Categories};
        const ResourceResponse response(Json(c.json));
        EXPECT_EQ(response.IsValid(), c.valid);
        if (c.valid)
            EXPECT_EQ(response.GetResource().get<std::string>("product_sku"), c.firstSku);
        else
            EXPECT_TRUE(response.GetResource().empty());
        if (c.level.empty()) {
            EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();
            continue;
        }
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        EXPECT_EQ(capture.Lines()[0].category, "update_manager");
        EXPECT_EQ(capture.Lines()[0].level, c.level);
        const bool prefix = c.message.size() >= 2 && c.message.compare(c.message.size() - 2, 2, ": ") == 0;
        if (prefix) {
            EXPECT_EQ(capture.Lines()[0].message.compare(0, c.message.size(), c.message), 0)
                << capture.Lines()[0].message;
            EXPECT_GT(capture.Lines()[0].message.size(), c.message.size()); // the error's text follows
        } else {
            EXPECT_EQ(capture.Lines()[0].message, c.message);
        }
    }
}

namespace {

const std::string CreateLabel = "Quendal::UpdateManager::ProductDescriptionFactory::Create";

// A description whose every field shows whether Create touched it.
ProductDescription Sentinel()
{
    ProductDescription d;
    d.localVersion = d.name = d.sku = d.type = d.version = d.permalink = d.productPage = d.releaseNotes = "old";
    d.platformMinVersion = d.platformMaxVersion = d.platformDisplayVersion = d.checksum = "old";
    d.size = 7;
    return d;
}

} // namespace

TEST(ProductDescriptionFactory, FillsEveryField)
{
    LogCapture capture{Categories};
    const pt::ptree resource = Json(R"({
        "product_sku": "ABC", "name": "Product", "permalink": "http://h/dl/setup.exe", "version": "2.1.0.7",
        "links": {"product_page": {"href": "http://h/page"}}, "resources_site_link": "http://h/site",
        "platform_min_version": "6.1", "platform_max_version": "10.0.0", "platform_display_version": "Windows 7+",
        "size": 1234, "checksum": "d41d8cd98f00b204e9800998ecf8427e", "unknown_member": [1, 2]})");
    ProductDescription out = Sentinel();
    ProductDescriptionFactory factory;
    ASSERT_TRUE(factory.Create("ABC", "soft", "0.0", resource, out)) << capture.Describe();
    EXPECT_EQ(out.sku, "ABC");
    EXPECT_EQ(out.type, "soft");
    EXPECT_EQ(out.localVersion, "0.0");
    EXPECT_EQ(out.name, "Product");
    EXPECT_EQ(out.permalink, "http://h/dl/setup.exe");
    EXPECT_EQ(out.version, "2.1.0.7");
    EXPECT_EQ(out.productPage, "http://h/page");
    EXPECT_EQ(out.releaseNotes, "old"); // no release notes: left alone
    EXPECT_EQ(out.platformMinVersion, "6.1");
    EXPECT_EQ(out.platformMaxVersion, "10.0.0");
    EXPECT_EQ(out.platformDisplayVersion, "Windows 7+");
    EXPECT_EQ(out.size, 1234u);
    EXPECT_EQ(out.checksum, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();

    // Optional members missing: their defaults replace what was there.
    out = Sentinel();
    ASSERT_TRUE(factory.Create("ABC", "soft", "1.0",
                               Json(R"({"product_sku": "ABC", "name": "n", "permalink": "p", "version": "v",
                                        "resources_site_link": "s"})"),
                               out));
    EXPECT_EQ(out.productPage, "s");
    EXPECT_EQ(out.platformMinVersion, "");
    EXPECT_EQ(out.platformMaxVersion, "");
    EXPECT_EQ(out.platformDisplayVersion, "");
    EXPECT_EQ(out.size, 0u);
    EXPECT_EQ(out.checksum, "");
}

TEST(ProductDescriptionFactory, RefusesAnotherSku)
{
    struct Case {
        std::string inSku;
        std::string resourceSku; // JSON value
        std::string shownSku;
    };
    const std::vector<Case> cases = {
        {"ABC", R"("abc")", "abc"},                                   // letter case counts
        {"ABC", R"("ABC ")", "ABC "},                                 // same prefix, other length
        {"ABC", R"("AB")", "AB"},     {"ABC", R"({"x": "ABC"})", ""}, // an object reads as the empty text
        {"", R"("ABC")", "ABC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resourceSku);
        LogCapture capture{Categories};
        ProductDescription out = Sentinel();
        ProductDescriptionFactory factory;
        EXPECT_FALSE(factory.Create(
            c.inSku, "soft", "0.0",
            Json(R"({"product_sku": )" + c.resourceSku + R"(, "name": "n", "permalink": "p", "version": "1.0",
                                            "resources_site_link": "s"})"),
            out));
        const ProductDescription untouched = Sentinel();
        EXPECT_EQ(out.sku, untouched.sku);
        EXPECT_EQ(out.type, untouched.type);
        EXPECT_EQ(out.localVersion, untouched.localVersion);
        EXPECT_EQ(out.name, untouched.name);
        EXPECT_EQ(out.size, untouched.size);
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        EXPECT_EQ(capture.Lines()[0].category, "description");
        EXPECT_EQ(capture.Lines()[0].level, "error");
        EXPECT_EQ(capture.Lines()[0].message,
                  "Failed to find sku\n[LOG] ## sku = " + c.shownSku + "\n[LOG] ## inSKU = " + c.inSku);
    }
}

TEST(ProductDescriptionFactory, MissingRequiredMembers)
{
    struct Case {
        std::string name;
        std::string json;
        // fields already written when Create gives up
        bool keySet;
        std::string name_;
        std::string permalink;
        std::string version;
    };
    const std::vector<Case> cases = {
        {"no product_sku", R"({"name": "n", "permalink": "p", "version": "v", "resources_site_link": "s"})", false,
         "old", "old", "old"},
        {"no name", R"({"product_sku": "ABC", "permalink": "p", "version": "v", "resources_site_link": "s"})", true,
         "old", "old", "old"},
        {"no permalink", R"({"product_sku": "ABC", "name": "n", "version": "v", "resources_site_link": "s"})", true,
         "n", "old", "old"},
        {"no version", R"({"product_sku": "ABC", "name": "n", "permalink": "p", "resources_site_link": "s"})", true,
         "n", "p", "old"},
        {"no product page at all", R"({"product_sku": "ABC", "name": "n", "permalink": "p", "version": "v"})", true,
         "n", "p", "v"},
        {"empty href, no site link",
         R"({"product_sku": "ABC", "name": "n", "permalink": "p", "version": "v",
             "links": {"product_page": {"href": ""}}})",
         true, "n", "p", "v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture capture{Categories};
        ProductDescription out = Sentinel();
        ProductDescriptionFactory factory;
        EXPECT_FALSE(factory.Create("ABC", "soft", "0.0", Json(c.json), out));
        EXPECT_EQ(out.sku, c.keySet ? "ABC" : "old");
        EXPECT_EQ(out.type, c.keySet ? "soft" : "old");
        EXPECT_EQ(out.localVersion, c.keySet ? "0.0" : "old");
        EXPECT_EQ(out.name, c.name_);
        EXPECT_EQ(out.permalink, c.permalink);
        EXPECT_EQ(out.version, c.version);
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        EXPECT_EQ(capture.Lines()[0].category, "description");
        EXPECT_EQ(capture.Lines()[0].level, "error");
        EXPECT_EQ(capture.Lines()[0].message.compare(0, CreateLabel.size(), CreateLabel), 0)
            << capture.Lines()[0].message;
        EXPECT_GT(capture.Lines()[0].message.size(), CreateLabel.size());
    }

    // A resource that is a bare value, as a list of strings gives, or an
    // object of plain members: the answer counts as valid, the resource is
    // refused.
    for (const char* answer :
         {R"({"total": 1, "resources": ["ABC"]})", R"({"total": 1, "resources": {"product_sku": "ABC"}})"}) {
        SCOPED_TRACE(answer);
        LogCapture capture{Categories};
        ProductDescription out = Sentinel();
        const ResourceResponse response(Json(answer));
        ASSERT_TRUE(response.IsValid());
        EXPECT_FALSE(ProductDescriptionFactory().Create("ABC", "soft", "0.0", response.GetResource(), out));
        EXPECT_EQ(out.sku, "old");
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        EXPECT_EQ(capture.Lines()[0].message.compare(0, CreateLabel.size(), CreateLabel), 0)
            << capture.Lines()[0].message;
    }
}

TEST(ProductDescriptionFactory, ProductPageFallback)
{
    const std::string base = R"("product_sku": "ABC", "name": "n", "permalink": "p", "version": "v")";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("links": {"product_page": {"href": "h"}}, "resources_site_link": "s")", "h"},
        {R"("links": {"product_page": {"href": "h"}})", "h"},
        {R"("links": {"product_page": {"href": ""}}, "resources_site_link": "s")", "s"},
        {R"("resources_site_link": "s")", "s"},
        {R"("links": "text", "resources_site_link": "s")", "s"},
        {R"("links": {"product_page": "text"}, "resources_site_link": "s")", "s"},
        {R"("links": {"product_page": {"href": {"x": 1}}}, "resources_site_link": "s")", "s"},
        {R"("links": {"product_page": {"href": ""}}, "resources_site_link": "")", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ProductDescription out;
        ASSERT_TRUE(
            ProductDescriptionFactory().Create("ABC", "soft", "0.0", Json("{" + base + ", " + c.first + "}"), out));
        EXPECT_EQ(out.productPage, c.second);
    }
}

TEST(ProductDescriptionFactory, SizeForms)
{
    const std::vector<std::pair<std::string, uint64_t>> cases = {
        {"1234", 1234},
        {R"("1234")", 1234},
        {R"(" 1234 ")", 1234},
        {R"("\t1234\n")", 1234},
        {"0", 0},
        {"18446744073709551615", UINT64_MAX},
        {"4294967296", 4294967296ull},
        {"18446744073709551616", 0}, // one above 64 bits
        {R"("99999999999999999999999")", 0},
        {"-5", 0}, // never a wrapped huge number
        {R"("-5")", 0},
        {R"("-0")", 0},
        {"12.5", 0},
        {"1e3", 0},
        {R"("word")", 0},
        {R"("")", 0},
        {R"("12 34")", 0},
        {R"("0x10")", 0},
        {R"("1234abc")", 0},
        {"true", 0},
        {"null", 0},
        {R"({"n": 5})", 0},
        {"[5]", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ProductDescription out;
        out.size = 99;
        ASSERT_TRUE(ProductDescriptionFactory().Create(
            "ABC", "soft", "0.0",
            Json(R"({"product_sku": "ABC", "name": "n", "permalink": "p", "version": "v",
                     "resources_site_link": "s", "size": )" +
                 c.first + "}"),
            out));
        EXPECT_EQ(out.size, c.second);
    }
}

TEST(ProductDescriptionFactory, ScalarTextsOfObjects)
{
    // Objects and arrays read as the empty text.
    ProductDescription out;
    ASSERT_TRUE(ProductDescriptionFactory().Create(
        "ABC", "soft", "0.0", Json(R"({"product_sku": "ABC", "name": {"en": "x"}, "permalink": ["p"], "version": 2.5,
                 "resources_site_link": "s", "checksum": {}})"),
        out));
    EXPECT_EQ(out.name, "");
    EXPECT_EQ(out.permalink, "");
    EXPECT_EQ(out.version, "2.5");
    EXPECT_EQ(out.checksum, "");
}

TEST(ParentFolder, Table)
{
    const std::string s(1, platform::PathSeparator);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\data/res\\temp", "C:" + s + "data" + s + "res"},
        {"C:\\data\\res/temp", "C:" + s + "data" + s + "res"},
        {"/tmp/a/temp", s + "tmp" + s + "a"},
        {"a/b/", "a" + s + "b"},
        {"temp", ""},
        {"", ""},
        {"\\temp", ""},
        {"/temp", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParentFolder(c.first), c.second) << c.first;
}

TEST(SafeFileName, Table)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ABC-12_x", "ABC-12_x"},
        {"A B.c", "A B.c"},
        {"../x", "___x"},
        {"..", "__"},
        {"...", "__."},
        {"a..b", "a__b"},
        {"a/b\\c", "a_b_c"},
        {"c:*?\"<>|", "c_______"},
        {std::string("a\0b\n", 4), "a_b_"},
        {"", "_"},
    };
    for (const auto& c : cases) {
        const std::string safe = SafeFileName(c.first);
        EXPECT_EQ(safe, c.second) << c.first;
        EXPECT_EQ(safe.find('/'), std::string::npos);
        EXPECT_EQ(safe.find('\\'), std::string::npos);
        EXPECT_EQ(safe.find(".."), std::string::npos);
    }
}

class ReleaseNotes : public ::testing::Test {
protected:
    void TearDown() override { CSingleton<Quendal::Resources>::GetInstance()->SetFolderForTesting(""); }

    static void PointResourcesAt(const std::string& folder)
    {
        CSingleton<Quendal::Resources>::GetInstance()->SetFolderForTesting(folder);
    }

    std::string Folder() const { return scratch.string() + "/"; }

    static bool CreateWithNotes(const std::string& sku, const std::string& html, ProductDescription& out)
    {
        pt::ptree resource;
        resource.put("product_sku", sku);
        resource.put("name", "n");
        resource.put("permalink", "p");
        resource.put("version", "1.0");
        resource.put("resources_site_link", "s");
        resource.put("release_notes_html", html);
        resource.put("checksum", "c"); // read after the notes: Create must go on
        return ProductDescriptionFactory().Create(sku, "soft", "0.0", resource, out);
    }

    const Quendal::Testing::ScratchFolder folder;
    const fs::path scratch = folder.Path();
};

TEST_F(ReleaseNotes, NoFolderDefinedLogsOncePerCallAndWritesNothing)
{
    for (int call = 0; call < 2; ++call) {
        LogCapture capture{Categories};
        ProductDescription out;
        ASSERT_TRUE(CreateWithNotes("ABC", "<p>notes</p>", out));
        EXPECT_EQ(out.releaseNotes, "");
        EXPECT_EQ(out.checksum, "c");
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        EXPECT_EQ(capture.Lines()[0].category, "description");
        EXPECT_EQ(capture.Lines()[0].level, "error");
        EXPECT_EQ(capture.Lines()[0].message, "Resources Folder not yet defined");
    }
    EXPECT_FALSE(fs::exists("temp"));

    // No notes: the store is not asked.
    LogCapture capture{Categories};
    ProductDescription out;
    ASSERT_TRUE(CreateWithNotes("ABC", "", out));
    EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();
}

TEST_F(ReleaseNotes, WrittenUnderTheResourcesFolderAndReplaced)
{
    PointResourcesAt(Folder());
    LogCapture capture{Categories};
    ProductDescription out;
    const std::string html = "<h1>Release 2</h1>\n<p>Fixes &amp; \"things\"</p>\n";
    ASSERT_TRUE(CreateWithNotes("ABC", html, out));
    const fs::path file = scratch / "temp" / "ABC.html";
    EXPECT_EQ(out.releaseNotes, "file://" + Folder() + "temp/ABC.html");
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(ReadFile(file), html);
    EXPECT_EQ(out.checksum, "c");

    // A second, shorter text replaces the first wholly.
    ProductDescription again;
    ASSERT_TRUE(CreateWithNotes("ABC", "short", again));
    EXPECT_EQ(ReadFile(file), "short");
    EXPECT_EQ(again.releaseNotes, out.releaseNotes);
    EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();
}

TEST_F(ReleaseNotes, SkuCannotLeaveTheNotesFolder)
{
    PointResourcesAt(Folder());
    for (const std::string sku : {"../../escape", "..", "a/b", "..\\x"}) {
        SCOPED_TRACE(sku);
        ProductDescription out;
        ASSERT_TRUE(CreateWithNotes(sku, "x", out));
        const std::string prefix = "file://" + Folder() + "temp/";
        ASSERT_EQ(out.releaseNotes.compare(0, prefix.size(), prefix), 0) << out.releaseNotes;
        const std::string name = out.releaseNotes.substr(prefix.size());
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
        EXPECT_TRUE(fs::is_regular_file(scratch / "temp" / name));
    }
    // Only the notes folder was created, holding only the notes.
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(scratch))
        top.push_back(entry.path().filename().string());
    EXPECT_EQ(top, std::vector<std::string>{"temp"});
    for (const auto& entry : fs::directory_iterator(scratch / "temp"))
        EXPECT_TRUE(fs::is_regular_file(entry.path())) << entry.path();
    EXPECT_FALSE(fs::exists(scratch.parent_path() / "escape.html"));
}

TEST_F(ReleaseNotes, UnusableFoldersLeaveReleaseNotesAlone)
{
    struct Case {
        std::string name;
        std::string folder;
        bool logsFileSystemError;
    };
    // A plain file where the parent of the notes folder should be.
    WriteFile(scratch / "plain", "x");
    // A plain file where the notes folder should be.
    WriteFile(scratch / "blocked" / "temp", "x");
    // The notes file name taken by a folder.
    fs::create_directories(scratch / "taken" / "temp" / "ABC.html");

    const std::vector<Case> cases = {
        {"parent missing", Folder() + "missing/", false},
        {"parent is a file", Folder() + "plain/", true},
        {"notes folder is a file", Folder() + "blocked/", false},
        {"notes file is a folder", Folder() + "taken/", false},
        {"no separator at the end", Folder() + "x", false}, // dest ".../xtemp": parent exists
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PointResourcesAt(c.folder);
        LogCapture capture{Categories};
        ProductDescription out;
        out.releaseNotes = "before";
        ASSERT_TRUE(CreateWithNotes("ABC", "x", out));
        EXPECT_EQ(out.checksum, "c");
        if (c.name == "no separator at the end") {
            // The folder text is used as given.
            EXPECT_EQ(out.releaseNotes, "file://" + Folder() + "xtemp/ABC.html");
            continue;
        }
        EXPECT_EQ(out.releaseNotes, "before");
        if (!c.logsFileSystemError) {
            EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();
            continue;
        }
        ASSERT_EQ(capture.Lines().size(), 1u) << capture.Describe();
        const std::string message = capture.Lines()[0].message;
        EXPECT_EQ(capture.Lines()[0].category, "description");
        EXPECT_EQ(message.compare(0, CreateLabel.size(), CreateLabel), 0) << message;
        const std::string tail = "\n[LOG] ## dest_dir = " + c.folder + "temp";
        ASSERT_GT(message.size(), CreateLabel.size() + tail.size());
        EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    }
    EXPECT_FALSE(fs::exists(scratch / "missing"));
}

TEST_F(ReleaseNotes, FailedWriteLeavesNoNotesFile)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    // The notes file is a link to a device on which every write fails.
    fs::create_directories(scratch / "temp");
    const fs::path file = scratch / "temp" / "ABC.html";
    fs::create_symlink("/dev/full", file);
    PointResourcesAt(Folder());
    LogCapture capture{Categories};
    ProductDescription out;
    out.releaseNotes = "before";
    ASSERT_TRUE(CreateWithNotes("ABC", "<p>notes</p>", out));
    EXPECT_EQ(out.releaseNotes, "before");
    EXPECT_EQ(out.checksum, "c");
    boost::system::error_code error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(file, error))) << "the failed notes file is left";
    EXPECT_TRUE(capture.Lines().empty()) << capture.Describe();
}
