// The resources web API built from a release folder, and the release files.
#include "testserver/TestServer.h"
#include "testsupport/Files.h"
#include "testsupport/HttpClient.h"
#include "testsupport/Payloads.h"

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

namespace {

using Quendal::Testing::Exchange;
using Quendal::Testing::Get;
using Quendal::Testing::GetRequest;
using Quendal::Testing::PatternBody;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;
using testserver::TestServer;

Poco::JSON::Object::Ptr ParseObject(const std::string& text)
{
    Poco::JSON::Parser parser;
    return parser.parse(text).extract<Poco::JSON::Object::Ptr>();
}

class ReleasesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        boost::filesystem::create_directory(root);
        server.SetReleaseFolder(root.string());
        server.Start();
    }
    void TearDown() override { server.Stop(); }

    Poco::JSON::Object::Ptr Api(const std::string& sku, int expectedStatus = 200)
    {
        auto answer = Get(server.Port(), TestServer::ApiPath("soft", sku, "windows"));
        EXPECT_EQ(expectedStatus, answer.status) << answer.body;
        EXPECT_EQ("application/json", answer.Get("Content-Type"));
        return ParseObject(answer.body);
    }

    ScratchFolder scratch;
    const boost::filesystem::path root = scratch / "releases";
    TestServer server;
};

TEST_F(ReleasesTest, ApiPathOfAProduct)
{
    EXPECT_EQ("/api/resources/soft/ABC/windows/latest", TestServer::ApiPath("soft", "ABC", "windows"));
    EXPECT_EQ(root.string(), server.ReleaseFolder());
}

TEST_F(ReleasesTest, DescribesTheInstallerWithDefaults)
{
    const std::string installer = PatternBody(20000);
    WriteFile(root / "ABC" / "setup.sh", installer);

    auto answer = Api("ABC");
    EXPECT_EQ(1, answer->getValue<int>("total"));
    auto resources = answer->getArray("resources");
    ASSERT_EQ(1u, resources->size());
    auto resource = resources->getObject(0);
    EXPECT_EQ("ABC", resource->getValue<std::string>("product_sku"));
    EXPECT_EQ("ABC", resource->getValue<std::string>("name"));
    EXPECT_EQ("1.0.0", resource->getValue<std::string>("version"));
    EXPECT_EQ(server.Url("/releases/ABC/setup.sh"), resource->getValue<std::string>("permalink"));
    EXPECT_EQ(20000, resource->getValue<Poco::Int64>("size"));
    EXPECT_EQ(testserver::Md5Hex(installer), resource->getValue<std::string>("checksum"));

    auto file = Get(server.Port(), "/releases/ABC/setup.sh");
    EXPECT_EQ(200, file.status);
    EXPECT_TRUE(file.body == installer);
    auto tail = Get(server.Port(), "/releases/ABC/setup.sh", "bytes=4000-");
    EXPECT_EQ(206, tail.status);
    EXPECT_TRUE(tail.body == installer.substr(4000));
}

TEST_F(ReleasesTest, ReleaseJsonAddsAndReplacesMembers)
{
    WriteFile(root / "P1" / "a-readme.txt", "not the installer");
    WriteFile(root / "P1" / "setup.exe", "installer");
    WriteFile(root / "P1" / "release.json", R"({
        "file": "setup.exe",
        "name": "Product One",
        "version": "2.1.0.7",
        "platform_min_version": "6.1.0",
        "platform_max_version": "10.0.65535",
        "platform_display_version": "Windows 7 or later",
        "links": {"product_page": {"href": "http://example.invalid/p1"}},
        "resources_site_link": "http://example.invalid/site",
        "release_notes_html": "<p>New</p>",
        "checksum": "00000000000000000000000000000000"
    })");

    auto resource = Api("P1")->getArray("resources")->getObject(0);
    EXPECT_EQ("P1", resource->getValue<std::string>("product_sku"));
    EXPECT_EQ("Product One", resource->getValue<std::string>("name"));
    EXPECT_EQ("2.1.0.7", resource->getValue<std::string>("version"));
    EXPECT_EQ(server.Url("/releases/P1/setup.exe"), resource->getValue<std::string>("permalink"));
    EXPECT_EQ(9, resource->getValue<Poco::Int64>("size"));
    EXPECT_EQ("00000000000000000000000000000000", resource->getValue<std::string>("checksum"));
    EXPECT_EQ("6.1.0", resource->getValue<std::string>("platform_min_version"));
    EXPECT_EQ("10.0.65535", resource->getValue<std::string>("platform_max_version"));
    EXPECT_EQ("Windows 7 or later", resource->getValue<std::string>("platform_display_version"));
    EXPECT_EQ("http://example.invalid/p1",
              resource->getObject("links")->getObject("product_page")->getValue<std::string>("href"));
    EXPECT_EQ("http://example.invalid/site", resource->getValue<std::string>("resources_site_link"));
    EXPECT_EQ("<p>New</p>", resource->getValue<std::string>("release_notes_html"));
    EXPECT_FALSE(resource->has("file"));
}

TEST_F(ReleasesTest, FirstFileByNameWithoutAFileMember)
{
    WriteFile(root / "P2" / "b.bin", "b");
    WriteFile(root / "P2" / "a.bin", "a");
    auto resource = Api("P2")->getArray("resources")->getObject(0);
    EXPECT_EQ(server.Url("/releases/P2/a.bin"), resource->getValue<std::string>("permalink"));
}

TEST_F(ReleasesTest, SkuWithASpaceIsEncodedInThePermalink)
{
    WriteFile(root / "A B" / "set up.bin", "x");
    auto resource = Api("A%20B")->getArray("resources")->getObject(0);
    EXPECT_EQ("A B", resource->getValue<std::string>("product_sku"));
    const auto permalink = resource->getValue<std::string>("permalink");
    EXPECT_EQ(server.Url("/releases/A%20B/set%20up.bin"), permalink);
    EXPECT_EQ("x", Get(server.Port(), permalink.substr(server.BaseUrl().size())).body);
}

struct EmptyCase {
    const char* name;
    const char* sku;
};

class UnknownSkuTest : public ReleasesTest, public ::testing::WithParamInterface<EmptyCase> { };

TEST_P(UnknownSkuTest, AnswersNoResource)
{
    WriteFile(root / "ABC" / "setup.sh", "x");
    auto answer = Api(GetParam().sku);
    EXPECT_EQ(0, answer->getValue<int>("total"));
    EXPECT_EQ(0u, answer->getArray("resources")->size());
}

INSTANTIATE_TEST_SUITE_P(Skus, UnknownSkuTest,
                         ::testing::Values(EmptyCase{"missing", "NOPE"}, EmptyCase{"other_case", "abc"},
                                           EmptyCase{"dot", "."}, EmptyCase{"dotdot", ".."},
                                           EmptyCase{"encoded_dotdot", "%2e%2e"},
                                           EmptyCase{"encoded_slash", "..%2fABC"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReleasesTest, ReleaseFilesOutsideTheFolderAreNotServed)
{
    WriteFile(root / "ABC" / "setup.sh", "x");
    WriteFile(root.parent_path() / "outside.txt", "secret");
    EXPECT_EQ(404, Get(server.Port(), "/releases/ABC/missing").status);
    EXPECT_EQ(404, Get(server.Port(), "/releases/ABC/..%2f..%2foutside.txt").status);
    EXPECT_EQ(404, Get(server.Port(), "/releases/../outside.txt").status);
    EXPECT_EQ(404, Get(server.Port(), "/releases/ABC").status);
}

TEST_F(ReleasesTest, BadReleaseJsonIsAServerError)
{
    WriteFile(root / "BAD" / "setup.sh", "x");
    WriteFile(root / "BAD" / "release.json", "{\"name\": ");
    auto answer = Get(server.Port(), TestServer::ApiPath("soft", "BAD", "windows"));
    EXPECT_EQ(500, answer.status);
}

TEST_F(ReleasesTest, ScriptedAnswerWinsOverTheFolder)
{
    WriteFile(root / "ABC" / "setup.sh", "x");
    server.SetJsonAnswer(TestServer::ApiPath("soft", "ABC", "windows"), 200, "{\"total\":2,\"resources\":[]}");
    EXPECT_EQ(2, Api("ABC")->getValue<int>("total"));
    server.RemoveContent(TestServer::ApiPath("soft", "ABC", "windows"));
    EXPECT_EQ(1, Api("ABC")->getValue<int>("total"));
}

TEST_F(ReleasesTest, ChangedInstallerGetsANewChecksum)
{
    WriteFile(root / "ABC" / "setup.sh", "first");
    EXPECT_EQ(testserver::Md5Hex("first"),
              Api("ABC")->getArray("resources")->getObject(0)->getValue<std::string>("checksum"));
    WriteFile(root / "ABC" / "setup.sh", "second version");
    EXPECT_EQ(testserver::Md5Hex("second version"),
              Api("ABC")->getArray("resources")->getObject(0)->getValue<std::string>("checksum"));
}

TEST_F(ReleasesTest, FaultsApplyToReleaseFiles)
{
    WriteFile(root / "ABC" / "setup.sh", PatternBody(5000));
    server.SetFault("/releases/ABC/setup.sh", testserver::Fault::CloseAfter(1000), 1);
    auto raw = Exchange(server.Port(), GetRequest("/releases/ABC/setup.sh"));
    EXPECT_EQ(1000u, raw.body.size());
    EXPECT_EQ(5000u, Get(server.Port(), "/releases/ABC/setup.sh").body.size());
}

TEST(ReleasesWithoutFolder, ApiIsNotFound)
{
    TestServer server;
    server.Start();
    EXPECT_EQ(404, Get(server.Port(), TestServer::ApiPath("soft", "ABC", "windows")).status);
    EXPECT_EQ(404, Get(server.Port(), "/releases/ABC/setup.sh").status);
}

} // namespace
