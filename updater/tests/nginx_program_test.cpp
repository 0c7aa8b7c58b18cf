// The updater program against nginx serving the release as static files:
// the web API answer as a JSON file at the API path, the installer beside it.

#include "testsupport/Files.h"
#include "testsupport/UpdaterFixture.h"

#include "NginxServer.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using Quendal::Testing::FileSizeOf;
using Quendal::Testing::UpdaterFixture;
using Quendal::Testing::UpdaterResult;
using Quendal::Testing::WriteFile;
using testserver::NginxServer;

namespace {

using Strings = std::vector<std::string>;

class UpdaterAgainstNginx : public UpdaterFixture {
protected:
    void SetUp() override
    {
        RequireDisplay();
        if (IsSkipped())
            return;
        if (!NginxServer::Available())
            GTEST_SKIP() << "nginx is not installed (tools/install-deps.sh installs it)";
        // The site is the scratch folder: AddRelease puts the installer at its
        // server path, /releases/<SKU>/setup.sh.
        nginx = std::make_unique<NginxServer>(scratch.Path().string());
    }

    // The API answer as the test server would give it, as a file.
    void PublishRelease()
    {
        AddRelease(Sku, {}, "");
        const boost::filesystem::path installer = scratch / "releases" / Sku / InstallerName;
        WriteFile(scratch / ApiPath(Sku).substr(1),
                  std::string(R"({"total": 1, "resources": [{"product_sku": ")") + Sku +
                      R"(", "name": "Product One", )"
                      R"("version": "2.0.0", "permalink": ")" +
                      nginx->Url(InstallerPath(Sku)) + R"(", "size": )" + std::to_string(FileSizeOf(installer)) +
                      R"(, "checksum": ")" + testserver::Md5HexOfFile(installer.string()) +
                      R"(", "resources_site_link": ")" + nginx->Url("/site") +
                      R"(", "platform_min_version": "6.1.0", )"
                      R"("platform_max_version": "10.0.65535"}]})");
    }

    std::unique_ptr<NginxServer> nginx;
};

TEST_F(UpdaterAgainstNginx, UpdatesAndRelaunches)
{
    PublishRelease();
    UpdaterResult result =
        RunUpdater({"--product-sku", Sku, "--server", nginx->HostPort(), "--", RelaunchScript(), "a", "b c"});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});

    std::optional<Strings> relaunch = WaitForRelaunch();
    ASSERT_TRUE(relaunch);
    ASSERT_EQ(relaunch->size(), 3u);
    EXPECT_NE(relaunch->front(), "pid " + std::to_string(result.pid)) << "a process of its own";
    EXPECT_EQ(Strings(relaunch->begin() + 1, relaunch->end()), (Strings{"[a]", "[b c]"}));
    EXPECT_TRUE(DownloadedFiles().empty());

    const Strings log = nginx->AccessLog();
    const std::string apiLine = "GET " + ApiPath(Sku) + " HTTP/1.1 200 -";
    const std::string installerLine = "GET " + InstallerPath(Sku) + " HTTP/1.1 200 -";
    EXPECT_EQ(std::count(log.begin(), log.end(), apiLine), 2) << "the start and the refresh after the install";
    EXPECT_EQ(std::count(log.begin(), log.end(), installerLine), 1);
    EXPECT_EQ(log.size(), 3u) << testing::PrintToString(log);
}

} // namespace
