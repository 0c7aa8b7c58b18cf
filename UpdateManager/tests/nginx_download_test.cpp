// The download job against nginx serving the release as static files.
#include "UpdateManager/DownloaderBackgrounder.h"
#include "testsupport/Files.h"
#include "testsupport/Payloads.h"
#include "testsupport/Wait.h"

#include "NginxServer.h"
#include "testserver/TestServer.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

using Quendal::Testing::DownloadPayload;
using Quendal::Testing::ReadFile;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WaitUntil;
using Quendal::Testing::WriteFile;
using Quendal::UpdateManager::DownloaderBackgrounder;
using Quendal::UpdateManager::DownloadState;
using testserver::NginxServer;

namespace {

class NginxDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NginxServer::Available())
            GTEST_SKIP() << "nginx is not installed (tools/install-deps.sh installs it)";
        boost::filesystem::create_directories(site / "releases" / "TEST");
        WriteFile(site / "releases" / "TEST" / "setup.exe", payload);
        nginx = std::make_unique<NginxServer>(site.Path().string());
    }

    DownloadState Run(int64_t resumeOffset)
    {
        downloader.Start(DownloaderBackgrounder::Data(nginx->Url("/releases/TEST/setup.exe"), target, md5,
                                                      static_cast<int64_t>(payload.size()), resumeOffset));
        EXPECT_TRUE(WaitUntil([this] { return downloader.IsFinished(); }, std::chrono::seconds(60)));
        return downloader.GetState();
    }

    ScratchFolder site;
    ScratchFolder downloads;
    const std::string payload = DownloadPayload(300 * 1024, 7);
    const std::string md5 = testserver::Md5Hex(payload);
    const std::string target = downloads.File("setup.exe");
    std::unique_ptr<NginxServer> nginx;
    DownloaderBackgrounder downloader{"soft/TEST"};
};

TEST_F(NginxDownload, ResumesAPartialFileAndAcceptsACompleteOne)
{
    struct Case {
        const char* name;
        std::size_t onDisk; // bytes of the installer already in Downloads
        const char* logLine;
    };
    const std::string size = std::to_string(payload.size());
    const Case cases[] = {
        {"fresh download", 0, "GET /releases/TEST/setup.exe HTTP/1.1 200 -"},
        {"partial file: 206", 100000, "GET /releases/TEST/setup.exe HTTP/1.1 206 bytes=100000-"},
        {"complete file: 416", payload.size(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boost::filesystem::remove(target);
        if (c.onDisk > 0)
            WriteFile(target, payload.substr(0, c.onDisk));
        const std::size_t before = nginx->AccessLog().size();

        EXPECT_EQ(Run(static_cast<int64_t>(c.onDisk)), DownloadState::Completed);
        EXPECT_EQ(ReadFile(target), payload);
        EXPECT_EQ(downloader.GetOutcome().checksum, md5);

        const auto log = nginx->AccessLog();
        ASSERT_EQ(log.size(), before + 1);
        const std::string expected =
            c.logLine != nullptr ? c.logLine : "GET /releases/TEST/setup.exe HTTP/1.1 416 bytes=" + size + "-";
        EXPECT_EQ(log.back(), expected);
    }
}

} // namespace
