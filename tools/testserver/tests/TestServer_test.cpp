// Core behaviour: content, files, Range, keep-alive, the request log, start and stop.
#include "testserver/TestServer.h"
#include "testsupport/Files.h"
#include "testsupport/HttpClient.h"
#include "testsupport/Payloads.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

namespace {

using Quendal::Testing::Get;
using Quendal::Testing::GetRequest;
using Quendal::Testing::PatternBody;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;
using testserver::TestServer;

class TestServerTest : public ::testing::Test {
protected:
    void SetUp() override { server.Start(); }
    TestServer server;
};

TEST_F(TestServerTest, BaseUrlNamesTheBoundPort)
{
    EXPECT_TRUE(server.IsRunning());
    EXPECT_NE(0, server.Port());
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(server.Port()), server.BaseUrl());
    EXPECT_EQ(server.BaseUrl() + "/x", server.Url("/x"));
}

TEST_F(TestServerTest, ServesAddedContentAndAnswers404ForTheRest)
{
    server.AddContent("/a.bin", "hello", "text/plain");
    auto found = Get(server.Port(), "/a.bin?x=1");
    EXPECT_EQ(200, found.status);
    EXPECT_EQ("hello", found.body);
    EXPECT_EQ("5", found.Get("Content-Length"));
    EXPECT_EQ("text/plain", found.Get("Content-Type"));
    EXPECT_EQ("bytes", found.Get("Accept-Ranges"));
    EXPECT_EQ(404, Get(server.Port(), "/missing").status);

    server.AddContent("/a.bin", "replaced");
    EXPECT_EQ("replaced", Get(server.Port(), "/a.bin").body);
    server.RemoveContent("/a.bin");
    EXPECT_EQ(404, Get(server.Port(), "/a.bin").status);
}

TEST_F(TestServerTest, PercentEncodedPathFindsContent)
{
    server.AddContent("/with space", "s");
    EXPECT_EQ("s", Get(server.Port(), "/with%20space").body);
}

TEST_F(TestServerTest, ScriptedAnswersKeepStatusAndBody)
{
    server.SetJsonAnswer("/api/x", 503, "{\"e\":1}");
    auto answer = Get(server.Port(), "/api/x", "bytes=2-");
    EXPECT_EQ(503, answer.status);
    EXPECT_EQ("{\"e\":1}", answer.body);
    EXPECT_EQ("application/json", answer.Get("Content-Type"));
    EXPECT_FALSE(answer.Has("Content-Range"));

    server.SetAnswer("/plain", 200, "0123456789", "text/plain");
    EXPECT_EQ("89", Get(server.Port(), "/plain", "bytes=8-").body);
    server.ClearContent();
    EXPECT_EQ(404, Get(server.Port(), "/plain").status);
}

struct RangeCase {
    const char* range;
    int status;
    const char* body;
    const char* contentRange; // "" = no Content-Range header
};

class RangeTest : public TestServerTest, public ::testing::WithParamInterface<RangeCase> { };

TEST_P(RangeTest, AnswersTheRange)
{
    const RangeCase& c = GetParam();
    server.AddContent("/ten", "0123456789");
    auto answer = Get(server.Port(), "/ten", c.range);
    EXPECT_EQ(c.status, answer.status);
    EXPECT_EQ(c.body, answer.body);
    EXPECT_EQ(c.contentRange, answer.Get("Content-Range"));
    EXPECT_EQ(std::string(c.contentRange).empty(), !answer.Has("Content-Range"));
    EXPECT_EQ(std::to_string(std::string(c.body).size()), answer.Get("Content-Length"));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeTest,
    ::testing::Values(
        RangeCase{"bytes=0-", 206, "0123456789", "bytes 0-9/10"}, RangeCase{"bytes=4-", 206, "456789", "bytes 4-9/10"},
        RangeCase{"bytes=3-5", 206, "345", "bytes 3-5/10"}, RangeCase{"bytes=8-100", 206, "89", "bytes 8-9/10"},
        RangeCase{"bytes=9-9", 206, "9", "bytes 9-9/10"}, RangeCase{"bytes=-3", 206, "789", "bytes 7-9/10"},
        RangeCase{"bytes=-30", 206, "0123456789", "bytes 0-9/10"}, RangeCase{"bytes=10-", 416, "", "bytes */10"},
        RangeCase{"bytes=50-60", 416, "", "bytes */10"}, RangeCase{"bytes=-0", 416, "", "bytes */10"},
        RangeCase{"bytes=5-2", 200, "0123456789", ""}, RangeCase{"bytes=1-2,4-5", 200, "0123456789", ""},
        RangeCase{"items=1-", 200, "0123456789", ""}, RangeCase{"bytes=x-", 200, "0123456789", ""},
        RangeCase{"bytes=+1-", 200, "0123456789", ""}, RangeCase{"bytes=9223372036854775807-", 416, "", "bytes */10"},
        RangeCase{"bytes=0-9223372036854775807", 206, "0123456789", "bytes 0-9/10"},
        RangeCase{"bytes=-9223372036854775807", 206, "0123456789", "bytes 0-9/10"},
        RangeCase{"bytes=9223372036854775808-", 200, "0123456789", ""},
        RangeCase{"bytes=0-99999999999999999999", 200, "0123456789", ""},
        RangeCase{"bytes=-99999999999999999999", 200, "0123456789", ""}));

TEST_F(TestServerTest, EmptyBodyHasNoSatisfiableRange)
{
    server.AddContent("/empty", "");
    EXPECT_EQ(200, Get(server.Port(), "/empty").status);
    auto answer = Get(server.Port(), "/empty", "bytes=0-");
    EXPECT_EQ(416, answer.status);
    EXPECT_EQ("bytes */0", answer.Get("Content-Range"));
}

TEST_F(TestServerTest, StreamsFilesFromDisk)
{
    ScratchFolder dir;
    const std::string data = PatternBody(300000);
    WriteFile(dir / "big.bin", data);
    server.AddFile("/big.bin", (dir / "big.bin").string());
    server.AddFile("/gone.bin", (dir / "gone.bin").string());

    auto whole = Get(server.Port(), "/big.bin");
    EXPECT_EQ(200, whole.status);
    EXPECT_TRUE(whole.body == data);
    auto tail = Get(server.Port(), "/big.bin", "bytes=200000-");
    EXPECT_EQ(206, tail.status);
    EXPECT_EQ("bytes 200000-299999/300000", tail.Get("Content-Range"));
    EXPECT_TRUE(tail.body == data.substr(200000));
    EXPECT_EQ(testserver::Md5Hex(data), testserver::Md5HexOfFile((dir / "big.bin").string()));
    EXPECT_EQ(404, Get(server.Port(), "/gone.bin").status);
    EXPECT_EQ("", testserver::Md5HexOfFile((dir / "gone.bin").string()));
}

TEST(Md5, KnownDigests)
{
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", testserver::Md5Hex(""));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", testserver::Md5Hex("abc"));
}

TEST_F(TestServerTest, KeepAliveSessionUsesOneConnection)
{
    server.AddContent("/k", "12345");
    Poco::Net::HTTPClientSession first("127.0.0.1", server.Port());
    first.setKeepAlive(true);
    EXPECT_EQ("12345", Get(first, "/k").body);
    EXPECT_EQ("345", Get(first, "/k", "bytes=2-").body);
    EXPECT_EQ(416, Get(first, "/k", "bytes=5-").status);
    EXPECT_EQ(404, Get(first, "/nothing").status);
    EXPECT_EQ("12345", Get(first, "/k").body);
    Poco::Net::HTTPClientSession second("127.0.0.1", server.Port());
    EXPECT_EQ("12345", Get(second, "/k").body);

    auto log = server.Requests();
    ASSERT_EQ(6u, log.size());
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(log[0].connectionId, log[i].connectionId);
        EXPECT_EQ(i + 1, log[i].requestOnConnection);
    }
    EXPECT_NE(log[0].connectionId, log[5].connectionId);
    EXPECT_EQ(1u, log[5].requestOnConnection);
    EXPECT_EQ(2u, server.ConnectionCount());
}

TEST_F(TestServerTest, RecordsEveryRequest)
{
    server.AddContent("/r", "x");
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    Poco::Net::HTTPBasicCredentials credentials("user", "pa:ss");
    Get(session, "/r?q=1", "bytes=0-", &credentials);
    Get(session, "/other");

    auto log = server.Requests();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("GET", log[0].method);
    EXPECT_EQ("/r?q=1", log[0].uri);
    EXPECT_EQ("/r", log[0].path);
    EXPECT_EQ("HTTP/1.1", log[0].version);
    EXPECT_TRUE(log[0].hasRange);
    EXPECT_EQ("bytes=0-", log[0].range);
    EXPECT_TRUE(log[0].hasAuthorization);
    EXPECT_EQ("Basic dXNlcjpwYTpzcw==", log[0].authorization);
    EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), log[0].host);
    EXPECT_EQ("bytes=0-", log[0].Header("range"));
    EXPECT_FALSE(log[1].hasRange);
    EXPECT_FALSE(log[1].hasAuthorization);
    EXPECT_EQ("", log[1].Header("Range"));
    EXPECT_EQ(1u, server.RequestsFor("/r").size());
    EXPECT_EQ(2u, server.RequestCount());
    server.ClearRequests();
    EXPECT_EQ(0u, server.RequestCount());
}

TEST_F(TestServerTest, WaitForRequestsWaitsOrTimesOut)
{
    EXPECT_FALSE(server.WaitForRequests(1, std::chrono::milliseconds(20)));
    auto client = std::async(std::launch::async, [this] { return Get(server.Port(), "/late").status; });
    EXPECT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
    EXPECT_EQ(404, client.get());
}

TEST_F(TestServerTest, HeadSendsHeadersOnly)
{
    server.AddContent("/h", "12345");
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    session.setKeepAlive(true);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_HEAD, "/h", Poco::Net::HTTPMessage::HTTP_1_1);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    session.receiveResponse(response);
    EXPECT_EQ(200, response.getStatus());
    EXPECT_EQ(5, response.getContentLength64());
    EXPECT_EQ("12345", Get(session, "/h").body); // the connection is still in step
}

TEST_F(TestServerTest, ObserverSeesEachRequest)
{
    TestServer observed;
    std::vector<std::string> seen;
    std::mutex mutex;
    observed.SetRequestObserver([&](const testserver::RecordedRequest& request) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(request.uri);
    });
    observed.Start();
    Get(observed.Port(), "/one");
    observed.Stop();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::vector<std::string>{"/one"}, seen);
}

TEST(TestServerLifecycle, StartsAgainOnTheSamePort)
{
    TestServer server;
    server.AddContent("/x", "1");
    server.Start();
    const auto port = server.Port();
    server.Stop();
    EXPECT_FALSE(server.IsRunning());
    EXPECT_THROW(Get(port, "/x"), Poco::Exception);
    server.Start();
    EXPECT_EQ(port, server.Port());
    EXPECT_EQ("1", Get(port, "/x").body);
    server.Stop();
    server.Stop();
}

TEST(TestServerLifecycle, BusyPortIsAnError)
{
    TestServer first;
    first.Start();
    TestServer second(first.Port());
    EXPECT_THROW(second.Start(), std::runtime_error);
    EXPECT_FALSE(second.IsRunning());
}

TEST(TestServerLifecycle, StopReturnsWithIdleKeepAliveConnections)
{
    TestServer server;
    server.AddContent("/x", "1");
    server.Start();
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    EXPECT_EQ("1", Get(session, "/x").body);
    Poco::Net::StreamSocket silent;
    silent.connect(Poco::Net::SocketAddress("127.0.0.1", server.Port()));
    silent.sendBytes("GET /x HTT", 10); // a header that never ends
    ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
    server.Stop();
    EXPECT_FALSE(server.IsRunning());
}

TEST(TestServerLifecycle, StopReturnsWhileAClientDoesNotRead)
{
    TestServer server;
    server.AddContent("/big", PatternBody(32 * 1024 * 1024));
    server.Start();
    Poco::Net::StreamSocket socket;
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", server.Port()));
    const std::string request = GetRequest("/big");
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let the socket buffers fill
    server.Stop();
    EXPECT_FALSE(server.IsRunning());
}

} // namespace
