// The update manager's products: registration, descriptions from the test
// server's resources API, installer set-up and refresh, with a scratch
// Downloads folder.

#include "UpdateManager/UpdateManager.h"
#include "testsupport/EngineHarness.h"
#include "testsupport/Payloads.h"

#include "platform/OsVersion.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using namespace Quendal::Testing;
using Quendal::UpdateManager::ProductKey;
using Quendal::UpdateManager::UpdateStatus;
using testserver::Fault;
using testserver::TestServer;

namespace {

const std::string Payload = DownloadPayload(20000, 3);

std::string ApiPath(const std::string& sku)
{
    return TestServer::ApiPath("soft", sku, "windows");
}

// A whole answer of the resources API with one resource.
std::string Answer(const std::string& sku, const std::string& version, int total = 1)
{
    return "{\"total\": " + std::to_string(total) + ", \"resources\": [{\"product_sku\": \"" + sku +
           "\", \"name\": \"Name of " + sku + "\", \"version\": \"" + version +
           "\", \"permalink\": \"http://127.0.0.1:1/setup.exe\", \"resources_site_link\": \"http://site\"}]}";
}

std::string UnusedPort()
{
    TestServer server;
    server.Start();
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    server.Stop();
    return host;
}

class Products : public EngineTest {
protected:
    void TearDown() override { platform::testing::ClearOsVersionOverride(); }
};

} // namespace

TEST_F(Products, FirstAddProductSetsUpTheProductAndARepeatedOneOnlyRechecks)
{
    releases.AddRelease("ABC", "setup.exe", Payload);
    Start();
    manager->AddProduct(Key("ABC"), "0.0");

    EXPECT_EQ(events->Events(), (std::vector<std::string>{"changed ABC 2", "list"}));
    const Quendal::UpdateManager::ProductData& product = Product("ABC");
    EXPECT_EQ(product.description.sku, "ABC");
    EXPECT_EQ(product.description.type, "soft");
    EXPECT_EQ(product.description.localVersion, "0.0");
    EXPECT_EQ(product.description.name, "ABC");
    EXPECT_EQ(product.description.version, "1.0.0");
    EXPECT_EQ(product.description.permalink, releases.Server().Url(ReleaseServer::FilePath("ABC", "setup.exe")));
    EXPECT_EQ(product.description.size, Payload.size());
    EXPECT_EQ(product.description.checksum, testserver::Md5Hex(Payload));
    EXPECT_EQ(product.installer.GetInstallerPath(), downloads / "setup.exe");
    EXPECT_EQ(product.installer.GetUrl(), product.description.permalink);
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);

    EXPECT_TRUE(log.Has("update_manager", "info", " Initialize UpdateManager")) << log.Describe();
    EXPECT_TRUE(log.Has("update_manager", "info", " Getting descriptions for all products"));
    EXPECT_TRUE(log.Has("update_manager", "debug", "  Local computed data:"));
    EXPECT_TRUE(log.Has("update_manager", "debug",
                        "Data for ABC:\n  URL:            " + product.description.permalink +
                            "\n  SKU:            ABC\n  Type:           soft\n  Local version:  0.0"
                            "\n  Latest Version: 1.0.0\n  Installer File: " +
                            (downloads / "setup.exe").string() + "\n  Status:         update needed"))
        << log.Describe();

    events->Clear();
    manager->AddProduct(Key("ABC"), "0.5");
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"list"}));
    EXPECT_EQ(Product("ABC").description.localVersion, "0.5");
    EXPECT_EQ(releases.Server().RequestsFor(ApiPath("ABC")).size(), 2u);
    EXPECT_EQ(manager->GetProducts().size(), 1u);

    manager->AddProduct("XYZ", "firmware", "0.0");
    EXPECT_EQ(manager->GetProduct("XYZ", "firmware").description.type, "firmware");
    EXPECT_EQ(manager->GetProducts().size(), 2u);
}

TEST_F(Products, GetProductOfAnUnknownKeyThrows)
{
    Start();
    try {
        manager->GetProduct(Key("NOPE"));
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid map<K, T> key");
    }
    EXPECT_THROW(manager->GetProduct("NOPE", "soft"), std::out_of_range);
    EXPECT_FALSE(manager->GetDownloadStatus(Key("NOPE")));
}

TEST_F(Products, EachAnswerGivesItsStatus)
{
    struct Case {
        const char* sku;
        std::function<void(const std::string& sku)> serve;
        const char* localVersion;
        UpdateStatus expected;
        const char* level; // of the line below; empty: no warning or error line
        std::string line;
    };
    const std::string invalidResponse = ": invalid response (no response or invalid json format";
    const Case cases[] = {
        {"OK", [&](const std::string& sku) { releases.AddRelease(sku, "ok.exe", Payload); }, "0.0",
         UpdateStatus::UpdateNeeded, "", ""},
        {"NOTFOUND",
         [&](const std::string& sku) { releases.Server().SetAnswer(ApiPath(sku), 404, "no", "text/plain"); }, "0.0",
         UpdateStatus::Unknown, "error", " Could not get product information for NOTFOUND" + invalidResponse},
        {"NOTJSON",
         [&](const std::string& sku) {
             releases.Server().SetAnswer(ApiPath(sku), 200, "{not json", "application/json");
         },
         "0.0", UpdateStatus::Unknown, "error", " Could not get product information for NOTJSON" + invalidResponse},
        {"TOTAL",
         [&](const std::string& sku) { releases.Server().SetJsonAnswer(ApiPath(sku), 200, Answer(sku, "2.0", 2)); },
         "0.0", UpdateStatus::Unknown, "warning",
         " Could not get product information for TOTAL: invalid resource data"},
        {"OTHER",
         [&](const std::string& sku) { releases.Server().SetJsonAnswer(ApiPath(sku), 200, Answer("else", "2.0")); },
         "0.0", UpdateStatus::Unknown, "warning",
         " Could not get product information for OTHER: invalid description data"},
        {"SHORT", [&](const std::string& sku) { releases.AddRelease(sku, "short.exe", Payload, "\"version\": \"5\""); },
         "0.0", UpdateStatus::Unknown, "", ""},
        {"SAME", [&](const std::string& sku) { releases.AddRelease(sku, "same.exe", Payload); }, "1.0",
         UpdateStatus::UpToDate, "", ""},
        {"NEWER", [&](const std::string& sku) { releases.AddRelease(sku, "newer.exe", Payload); }, "3.1.4",
         UpdateStatus::UpToDate, "", ""},
        // The running OS is 6.2.
        {"OSLOW",
         [&](const std::string& sku) {
             releases.AddRelease(sku, "low.exe", Payload, "\"platform_max_version\": \"6.1\"");
         },
         "0.0", UpdateStatus::PlatformNotSupported, "", ""},
        {"OSHIGH",
         [&](const std::string& sku) {
             releases.AddRelease(sku, "high.exe", Payload, "\"platform_min_version\": \"10.0\"");
         },
         "0.0", UpdateStatus::PlatformNotSupported, "", ""},
        {"OSIN",
         [&](const std::string& sku) {
             releases.AddRelease(sku, "in.exe", Payload,
                                 "\"platform_min_version\": \"6.0\", \"platform_max_version\": \"6.2\"");
         },
         "0.0", UpdateStatus::UpdateNeeded, "", ""},
    };
    platform::testing::OverrideOsVersion(platform::OsVersion{6, 2, 0});
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        c.serve(c.sku);
        log.Clear();
        events->Clear();
        manager->AddProduct(Key(c.sku), c.localVersion);

        EXPECT_EQ(Status(c.sku), c.expected);
        EXPECT_EQ(Product(c.sku).description.sku, c.sku);
        EXPECT_EQ(Product(c.sku).description.type, "soft");
        EXPECT_EQ(Product(c.sku).description.localVersion, c.localVersion);
        EXPECT_EQ(events->Events(),
                  (std::vector<std::string>{
                      "changed " + std::string(c.sku) + " " + std::to_string(static_cast<int>(c.expected)), "list"}));
        const int complaints = log.Count("warning", "Could not") + log.Count("error", "Could not");
        if (c.line.empty()) {
            EXPECT_EQ(complaints, 0) << log.Describe();
        } else {
            EXPECT_EQ(complaints, 1) << log.Describe();
            EXPECT_TRUE(log.Has("update_manager", c.level, c.line)) << log.Describe();
        }
    }
}

TEST_F(Products, AnInvalidAnswerKeepsThePreviousDescription)
{
    const std::vector<std::function<void()>> badAnswers = {
        [&] { releases.Server().SetAnswer(ApiPath("ABC"), 404, "no", "text/plain"); },
        [&] { releases.Server().SetAnswer(ApiPath("ABC"), 200, "[1, 2", "application/json"); },
        [&] { releases.Server().SetJsonAnswer(ApiPath("ABC"), 200, Answer("ABC", "9.0", 3)); },
        [&] { releases.Server().SetJsonAnswer(ApiPath("ABC"), 200, Answer("abc", "9.0")); },
        [&] {
            releases.Server().SetJsonAnswer(ApiPath("ABC"), 200,
                                            "{\"total\": 1, \"resources\": [{\"product_sku\": \"ABC\"}]}");
        },
    };
    releases.AddRelease("ABC", "setup.exe", Payload, "\"version\": \"2.5\"");
    Start();
    manager->AddProduct(Key("ABC"), "0.0");
    const std::string permalink = Product("ABC").description.permalink;
    int n = 0;
    for (const std::function<void()>& serve : badAnswers) {
        SCOPED_TRACE(n++);
        serve();
        manager->AddProduct(Key("ABC"), "1.0");
        EXPECT_EQ(Product("ABC").description.version, "2.5");
        EXPECT_EQ(Product("ABC").description.permalink, permalink);
        EXPECT_EQ(Product("ABC").description.size, Payload.size());
        EXPECT_EQ(Product("ABC").description.localVersion, "1.0");
        EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);
    }
}

TEST_F(Products, UnreachableServerLeavesTheProductUnknown)
{
    StartOn(UnusedPort());
    manager->AddProduct(Key("ABC"), "0.0");

    EXPECT_EQ(Status("ABC"), UpdateStatus::Unknown);
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"changed ABC 0", "list"}));
    EXPECT_EQ(log.Count("error", " Could not connect to resources server."), 1) << log.Describe();
    const Quendal::UpdateManager::ProductDescription& description = Product("ABC").description;
    EXPECT_EQ(description.sku, "ABC");
    EXPECT_EQ(description.type, "soft");
    EXPECT_EQ(description.localVersion, "0.0");
    EXPECT_EQ(description.name, "");
    EXPECT_EQ(description.version, "");
    EXPECT_EQ(description.permalink, "");
    EXPECT_EQ(description.size, 0u);
}

TEST_F(Products, AMalformedServerTextIsAConnectionFailure)
{
    StartOn("127.0.0.1:1 bad%%");
    EXPECT_NO_THROW(manager->AddProduct(Key("ABC"), "0.0"));
    EXPECT_NO_THROW(manager->RefreshProduct(Key("ABC")));
    EXPECT_EQ(Status("ABC"), UpdateStatus::Unknown);
    EXPECT_EQ(log.Count("error", " Could not connect to resources server."), 2) << log.Describe();
    EXPECT_EQ(log.Count("error", "invalid response"), 0) << log.Describe();
}

TEST_F(Products, OneConnectionFailureEndsTheRequestsOfThatCallOnly)
{
    Fault reset;
    reset.cut = Fault::Cut::Reset;
    reset.cutBeforeHeaders = true;
    releases.Server().SetFault("*", reset, 1);
    for (const char* sku : {"A", "B", "C"})
        releases.AddRelease(sku, std::string(sku) + ".exe", Payload);
    Start();

    manager->ProcessProductInfo({{Key("C"), "3.0"}, {Key("A"), "1.0"}, {Key("B"), "2.0"}});

    const std::vector<testserver::RecordedRequest> requests = releases.Server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, ApiPath("A"));
    EXPECT_EQ(log.Count("error", " Could not connect to resources server."), 1) << log.Describe();
    ASSERT_EQ(manager->GetProducts().size(), 3u);
    for (const char* sku : {"A", "B", "C"}) {
        SCOPED_TRACE(sku);
        EXPECT_EQ(Product(sku).description.sku, sku);
        EXPECT_EQ(Product(sku).description.type, "soft");
        EXPECT_EQ(Product(sku).description.version, "");
        EXPECT_FALSE(Product(sku).installer.IsInitialised());
    }
    EXPECT_EQ(Product("B").description.localVersion, "2.0");
    EXPECT_TRUE(events->Events().empty());

    // The next call tries again.
    manager->AddProduct(Key("B"), "0.0");
    EXPECT_EQ(Product("B").description.version, "1.0.0");
    EXPECT_EQ(Status("B"), UpdateStatus::UpdateNeeded);
}

TEST_F(Products, WithoutTheResourcesServerNothingIsSent)
{
    releases.AddRelease("ABC", "setup.exe", Payload);
    Start();
    manager->SetUseResourcesServer(false);
    manager->AddProduct(Key("ABC"), "0.0");
    manager->RefreshProduct(Key("ABC"));

    EXPECT_EQ(releases.Server().RequestCount(), 0u);
    EXPECT_EQ(Status("ABC"), UpdateStatus::Unknown);
    EXPECT_EQ(Product("ABC").description.sku, "ABC");
    EXPECT_EQ(Product("ABC").description.localVersion, "not_installed");
    EXPECT_EQ(log.Count("error", "Could not"), 0) << log.Describe();
    EXPECT_EQ(log.Count("warning", ""), 0) << log.Describe();

    manager->SetUseResourcesServer(true);
    manager->RefreshProduct(Key("ABC"));
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);
}

TEST_F(Products, RefreshProductReadsTheLocalVersionAgain)
{
    releases.AddRelease("ABC", "setup.exe", Payload);
    releases.AddRelease("FW", "fw.bin", Payload);
    Start();

    // Unknown and not software: nothing registered, nothing sent, no event.
    manager->RefreshProduct("FW", "firmware");
    EXPECT_TRUE(manager->GetProducts().empty());
    EXPECT_EQ(releases.Server().RequestCount(), 0u);
    EXPECT_TRUE(events->Events().empty());

    // Unknown software is registered by a refresh.
    manager->RefreshProduct(Key("NEW"));
    EXPECT_EQ(Product("NEW").description.localVersion, "not_installed");
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"changed NEW 0", "list"}));

    // Software without scanner definitions: "not_installed".
    manager->AddProduct(Key("ABC"), "5.0");
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpToDate);
    manager->RefreshProduct(Key("ABC"));
    EXPECT_EQ(Product("ABC").description.localVersion, "not_installed");
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);

    // Another type keeps its stored version.
    manager->AddProduct("FW", "firmware", "0.9");
    events->Clear();
    manager->RefreshProduct("FW", "firmware");
    EXPECT_EQ(manager->GetProduct("FW", "firmware").description.localVersion, "0.9");
    EXPECT_EQ(releases.Server().RequestsFor(TestServer::ApiPath("firmware", "FW", "windows")).size(), 2u);
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"list"}));
}

TEST_F(Products, InstallerFilePathIsTheLastUrlSegmentInDownloads)
{
    struct Case {
        const char* url;
        const char* name; // nullptr: no path
    };
    const Case cases[] = {
        {"http://host/releases/ABC/setup.exe", "setup.exe"},
        {"setup.exe", "setup.exe"},
        {"http://host/get?file=a&b=1", "get?file=a&b=1"},
        {"http://host/a b.exe", "a b.exe"},
        {"http://host/releases/", nullptr},
        {"", nullptr},
        {"http://host/.", nullptr},
        {"http://host/..", nullptr},
        {"..", nullptr},
        {"http://host/..\\evil.exe", nullptr},
        {"http://host/bell\a.exe", nullptr},
        {"http://host/line\nfeed.exe", nullptr},
        {"http://host/del\x7f.exe", nullptr},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const fs::path expected = c.name == nullptr ? fs::path() : downloads / c.name;
        EXPECT_EQ(manager->InstallerFilePath(c.url), expected);
    }
    // Without a Downloads folder: the bare name.
    EXPECT_TRUE(manager->SetDownloadFolder(""));
    EXPECT_EQ(manager->InstallerFilePath("http://host/setup.exe"), fs::path("setup.exe"));
}

TEST_F(Products, SetDownloadFolderMovesTheInstallersThatAreNotUnderWay)
{
    releases.AddRelease("NEEDED", "needed.exe", Payload);
    releases.AddRelease("PAUSED", "paused.exe", Payload);
    WriteFile(downloads / "paused.exe", Payload.substr(0, 100));
    Start();
    manager->AddProduct(Key("NEEDED"), "0.0");
    manager->AddProduct(Key("PAUSED"), "0.0");
    ASSERT_EQ(Status("PAUSED"), UpdateStatus::DownloadPaused);

    events->Clear();
    EXPECT_TRUE(manager->SetDownloadFolder(downloads.string()));
    EXPECT_TRUE(events->Events().empty());

    const fs::path other = scratch / "Other";
    for (UpdateStatus busy :
         {UpdateStatus::DownloadInProgress, UpdateStatus::InstallerStart, UpdateStatus::InstallInProgress}) {
        Product("NEEDED").installer.SetStatus(busy);
        EXPECT_FALSE(manager->SetDownloadFolder(other.string()));
        EXPECT_EQ(Product("NEEDED").installer.GetInstallerPath(), downloads / "needed.exe");
    }
    Product("NEEDED").installer.SetStatus(UpdateStatus::UpdateNeeded);

    EXPECT_TRUE(manager->SetDownloadFolder(other.string()));
    EXPECT_EQ(Product("NEEDED").installer.GetInstallerPath(), other / "needed.exe");
    EXPECT_EQ(Product("PAUSED").installer.GetInstallerPath(), downloads / "paused.exe");
    EXPECT_EQ(Status("PAUSED"), UpdateStatus::DownloadPaused);
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"list"}));
}

// A release outside the running OS's range is never offered, also when a file
// of an earlier run lies in Downloads (it would otherwise be resumed or
// installed).
TEST_F(Products, AnUnsupportedReleaseIsRefusedWhateverLiesInDownloads)
{
    struct Case {
        const char* sku;
        std::function<void(const fs::path& file)> place;
        UpdateStatus withoutRange; // the same files, the release within range
    };
    const Case cases[] = {
        {"NOTHING", [](const fs::path&) {}, UpdateStatus::UpdateNeeded},
        {"PARTIAL", [](const fs::path& file) { WriteFile(file, Payload.substr(0, 5000)); },
         UpdateStatus::DownloadPaused},
        {"WHOLE",
         [](const fs::path& file) {
             WriteFile(file, Payload);
             WriteFile(file.string() + ".confirm", "{\"size\": \"" + std::to_string(Payload.size()) + "\"}");
         },
         UpdateStatus::InstallerAvailable},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        const std::string file = std::string(c.sku) + ".exe";
        c.place(downloads / file);
        releases.AddRelease(c.sku, file, Payload);
        manager->AddProduct(Key(c.sku), "0.0");
        EXPECT_EQ(Status(c.sku), c.withoutRange);

        releases.AddRelease(c.sku, file, Payload, "\"platform_min_version\": \"10.0\"");
        manager->AddProduct(Key(c.sku), "0.0");
        EXPECT_EQ(Status(c.sku), UpdateStatus::PlatformNotSupported);
        manager->RefreshProduct(Key(c.sku));
        EXPECT_EQ(Status(c.sku), UpdateStatus::PlatformNotSupported);
        manager->UpdateProductStates();
        EXPECT_EQ(Status(c.sku), UpdateStatus::PlatformNotSupported);
    }
}

// A permalink whose last segment is no safe file name gives no installer
// path: nothing in or beside the Downloads folder is removed or written.
TEST_F(Products, AnUnusableInstallerFileNameIsAnError)
{
    const std::string base = "http://127.0.0.1:1/releases/X";
    const std::vector<std::string> permalinks = {
        base + "/", base + "/.", base + "/..", base + "/..\\\\Downloads.confirm", base + "/a\\u0007b", "",
    };
    WriteFile(scratch / "Downloads.confirm", "beside");
    WriteFile(downloads / ".confirm", "inside");
    WriteFile(downloads / "...confirm", "inside");
    Start();
    int n = 0;
    for (const std::string& permalink : permalinks) {
        const std::string sku = "BAD" + std::to_string(n++);
        SCOPED_TRACE(sku + " " + permalink);
        releases.SetMembers(sku, "\"permalink\": \"" + permalink + "\"");
        const std::vector<std::string> before = FolderListing(scratch.Path());
        log.Clear();

        manager->AddProduct(Key(sku), "0.0");
        EXPECT_EQ(Status(sku), UpdateStatus::Error);
        EXPECT_TRUE(Product(sku).installer.GetInstallerPath().empty());
        EXPECT_TRUE(log.Has("update_manager", "error",
                            "No usable installer file name in the download URL of " + sku + " (soft)"))
            << log.Describe();

        EXPECT_FALSE(manager->LaunchDownload(Key(sku), true));
        EXPECT_FALSE(manager->LaunchDownload(Key(sku), false));
        EXPECT_FALSE(manager->ResetProduct(Key(sku)));
        EXPECT_EQ(log.Count("warning", "but it has no usable installer file name"), 3) << log.Describe();
        manager->UpdateProductStates();
        manager->RefreshProduct(Key(sku));
        EXPECT_EQ(Status(sku), UpdateStatus::Error);
        EXPECT_EQ(FolderListing(scratch.Path()), before);
    }
    EXPECT_EQ(releases.Server().RequestCount(), permalinks.size() * 2);

    // A release that is not known keeps "unknown".
    releases.SetMembers("NOVERSION", "\"permalink\": \"" + base + "/\", \"version\": \"\"");
    manager->AddProduct(Key("NOVERSION"), "0.0");
    EXPECT_EQ(Status("NOVERSION"), UpdateStatus::Unknown);
}
