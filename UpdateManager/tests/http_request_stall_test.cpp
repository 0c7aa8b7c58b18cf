// HttpDownloadRequest against a server that stops answering: one case waits
// for the real 10-second socket time-out, the other for a short one.

#include "UpdateManager/HttpDownloadRequest.h"
#include "testsupport/HttpBody.h"
#include "testsupport/LogCapture.h"
#include "testserver/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace {

using Quendal::Testing::LogCapture;
using Quendal::Testing::PatternBody;
using Quendal::Testing::ReadBody;
using Quendal::Testing::SameBytes;
using Quendal::UpdateManager::HttpDownloadRequest;
using Quendal::UpdateManager::TransferStatus;
using testserver::Fault;
using testserver::TestServer;

using Clock = std::chrono::steady_clock;

constexpr auto TimeOut = HttpDownloadRequest::DefaultTimeout;
constexpr auto ShortTimeOut = std::chrono::milliseconds(1000);

class HttpRequestStallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.Start();
        server.AddContent("/setup.bin", body);
    }

    LogCapture log{{"web"}};
    TestServer server;
    HttpDownloadRequest request{ShortTimeOut};
    const std::string body = PatternBody(20000);
};

TEST_F(HttpRequestStallTest, StalledBodyIsInterruptedAndResumable)
{
    server.SetFault("/setup.bin", Fault::StallAfter(12000), 1);
    std::ostringstream out;
    request.Open(server.Url("/setup.bin"));
    ASSERT_TRUE(request.IsAccepted());
    const auto start = Clock::now();
    ReadBody(request, out);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(TransferStatus::Interrupted, request.GetStatus());
    // The bytes that came before the stall are kept.
    const int64_t held = static_cast<int64_t>(out.str().size());
    EXPECT_EQ(12000, held);
    EXPECT_TRUE(SameBytes(body.substr(0, 12000), out.str()));
    EXPECT_EQ(held, request.GetDownloadedSize());
    EXPECT_GE(waited, ShortTimeOut - ShortTimeOut / 10);
    EXPECT_LT(waited, TimeOut) << "the short time-out, not the default one";

    request.SetResumeOffset(held);
    request.Open(server.Url("/setup.bin"));
    ASSERT_TRUE(request.IsAccepted());
    ReadBody(request, out);
    EXPECT_EQ(TransferStatus::Complete, request.GetStatus());
    EXPECT_TRUE(SameBytes(body, out.str()));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_NE(requests[0].connectionId, requests[1].connectionId);
}

TEST_F(HttpRequestStallTest, AnswerThatNeverComesIsConnectionFailed)
{
    Fault silent = Fault::StallAfter(0);
    silent.cutBeforeHeaders = true;
    server.SetFault("/setup.bin", silent, 1);
    HttpDownloadRequest withDefault; // the design's 10 s
    const auto start = Clock::now();
    withDefault.Open(server.Url("/setup.bin"));
    const auto waited = Clock::now() - start;
    EXPECT_FALSE(withDefault.IsAccepted());
    EXPECT_EQ(TransferStatus::ConnectionFailed, withDefault.GetStatus());
    EXPECT_EQ(1, log.Count("error", "Error connecting to " + server.Url("/setup.bin") + ": "));
    EXPECT_GE(waited, TimeOut - std::chrono::seconds(1));
    EXPECT_LT(waited, TimeOut * 3);
}

} // namespace
