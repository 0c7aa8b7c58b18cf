// Fault behaviours, seen from a raw socket and from POCO's HTTP client.
#include "testserver/TestServer.h"
#include "testsupport/HttpClient.h"
#include "testsupport/Payloads.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Quendal::Testing::End;
using Quendal::Testing::Exchange;
using Quendal::Testing::Get;
using Quendal::Testing::GetRequest;
using Quendal::Testing::PatternBody;
using testserver::Fault;
using testserver::TestServer;

const std::string kData = PatternBody(1000);

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.AddContent("/data", kData);
        server.Start();
    }
    TestServer server;
};

struct RawCase {
    const char* name;
    Fault fault;
    const char* range;      // "" = no Range header
    int status;             // 0 = no status line at all
    std::size_t bodyOffset; // expected body: kData.substr(bodyOffset, bodyLength)
    std::size_t bodyLength;
    End end;
    const char* header = "";       // a header to check ...
    const char* value = "";        // ... its expected value ("" = must be absent)
    const char* literal = nullptr; // expected body instead of a slice of kData
};

Fault BeforeHeaders(Fault fault)
{
    fault.cutBeforeHeaders = true;
    return fault;
}

Fault WithContentRange(std::string value)
{
    Fault fault;
    fault.contentRange = std::move(value);
    return fault;
}

Fault WithHeaders()
{
    Fault fault;
    fault.headers = {{"X-Test", "1"}, {"content-type", "text/x-test"}};
    return fault;
}

Fault Delayed()
{
    Fault fault;
    fault.delayBeforeHeaders = 50ms;
    return fault;
}

std::ostream& operator<<(std::ostream& out, const RawCase& c)
{
    return out << c.name;
}

class RawFaultTest : public FaultTest, public ::testing::WithParamInterface<RawCase> { };

TEST_P(RawFaultTest, WireShowsTheFault)
{
    const RawCase& c = GetParam();
    server.SetFault("/data", c.fault);
    std::string extra = std::string(c.range).empty() ? "" : "Range: " + std::string(c.range) + "\r\n";
    auto raw = Exchange(server.Port(), GetRequest("/data", extra));
    EXPECT_EQ(c.status, raw.status) << raw.head;
    if (c.literal) {
        EXPECT_EQ(c.literal, raw.body);
    } else {
        EXPECT_EQ(c.bodyLength, raw.body.size());
        EXPECT_TRUE(raw.body == kData.substr(c.bodyOffset, c.bodyLength));
    }
    EXPECT_EQ(static_cast<int>(c.end), static_cast<int>(raw.end));
    if (*c.header) {
        if (*c.value) {
            EXPECT_EQ(c.value, raw.Header(c.header)) << raw.head;
        } else {
            EXPECT_FALSE(raw.HasHeader(c.header)) << raw.head;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RawFaultTest,
    ::testing::Values(
        RawCase{"stall", Fault::StallAfter(100), "", 200, 0, 100, End::Timeout, "Content-Length", "1000"},
        RawCase{"stall_then_go_on", Fault::StallAfter(100, 100ms), "", 200, 0, 1000, End::Eof},
        RawCase{"stall_in_range", Fault::StallAfter(5), "bytes=990-", 206, 990, 5, End::Timeout},
        RawCase{"reset", Fault::ResetAfter(100), "", 200, 0, 100, End::Reset},
        RawCase{"reset_in_range", Fault::ResetAfter(100), "bytes=500-", 206, 500, 100, End::Reset, "Content-Range",
                "bytes 500-999/1000"},
        RawCase{"close", Fault::CloseAfter(100), "", 200, 0, 100, End::Eof, "Content-Length", "1000"},
        RawCase{"close_past_the_end", Fault::CloseAfter(5000), "", 200, 0, 1000, End::Eof},
        RawCase{"reset_before_headers", BeforeHeaders(Fault::ResetAfter(0)), "", 0, 0, 0, End::Reset},
        RawCase{"close_before_headers", BeforeHeaders(Fault::CloseAfter(0)), "", 0, 0, 0, End::Eof},
        RawCase{"stall_before_headers", BeforeHeaders(Fault::StallAfter(0)), "", 0, 0, 0, End::Timeout},
        RawCase{"longer_length", Fault::WrongLength(2000), "", 200, 0, 1000, End::Eof, "Content-Length", "2000"},
        RawCase{"shorter_length", Fault::WrongLength(10), "", 200, 0, 1000, End::Eof, "Content-Length", "10"},
        RawCase{"no_length", Fault::NoContentLength(), "", 200, 0, 1000, End::Eof, "Content-Length", ""},
        RawCase{"ignore_range", Fault::IgnoreRange(), "bytes=500-", 200, 0, 1000, End::Eof, "Content-Range", ""},
        RawCase{"416_without_content_range", Fault::Without416ContentRange(), "bytes=1000-", 416, 0, 0, End::Eof,
                "Content-Range", ""},
        RawCase{"206_without_content_range", Fault::Without416ContentRange(), "bytes=600-", 206, 600, 400, End::Eof,
                "Content-Range", ""},
        RawCase{"wrong_content_range", WithContentRange("bytes 400-999/1000"), "bytes=500-", 206, 500, 500, End::Eof,
                "Content-Range", "bytes 400-999/1000"},
        RawCase{"416_with_letters", WithContentRange("bytes */abc"), "bytes=2000-", 416, 0, 0, End::Eof,
                "Content-Range", "bytes */abc"},
        RawCase{"extra_headers", WithHeaders(), "", 200, 0, 1000, End::Eof, "Content-Type", "text/x-test"},
        RawCase{"delay", Delayed(), "", 200, 0, 1000, End::Eof, "Content-Length", "1000"},
        RawCase{"trickle", Fault::Trickle(250, 5ms), "bytes=100-", 206, 100, 900, End::Eof},
        RawCase{"status", Fault::Status(500, "boom"), "bytes=1-", 500, 0, 0, End::Eof, "Content-Range", "", "boom"},
        RawCase{"raw", Fault::Raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab"), "", 200, 0, 0, End::Eof,
                "Content-Length", "5", "ab"}),
    [](const ::testing::TestParamInfo<RawCase>& info) { return std::string(info.param.name); });

TEST_F(FaultTest, ChunkedBodyReadsBackWhole)
{
    server.SetFault("/data", Fault::Chunked(300));
    auto raw = Exchange(server.Port(), GetRequest("/data"));
    EXPECT_EQ(200, raw.status);
    EXPECT_EQ("chunked", raw.Header("Transfer-Encoding"));
    EXPECT_FALSE(raw.HasHeader("Content-Length"));
    EXPECT_EQ(0u, raw.body.find("12c\r\n")); // 300 in hex
    EXPECT_EQ(raw.body.size() - 5, raw.body.rfind("0\r\n\r\n"));

    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    auto whole = Get(session, "/data");
    EXPECT_TRUE(whole.body == kData);
    auto tail = Get(session, "/data", "bytes=900-");
    EXPECT_EQ(206, tail.status);
    EXPECT_TRUE(tail.body == kData.substr(900));
    auto log = server.Requests();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(log[1].connectionId, log[2].connectionId); // chunked answers keep the connection
}

TEST_F(FaultTest, ChunkedBodyCutShort)
{
    Fault fault = Fault::Chunked(300);
    fault.cut = Fault::Cut::Close;
    fault.cutAfterBytes = 450;
    server.SetFault("/data", fault);
    auto raw = Exchange(server.Port(), GetRequest("/data"));
    EXPECT_EQ(End::Eof, raw.end);
    EXPECT_EQ("12c\r\n" + kData.substr(0, 300) + "\r\n96\r\n" + kData.substr(300, 150) + "\r\n", raw.body);
}

TEST_F(FaultTest, CorruptBodyKeepsTheSizeButNotTheDigest)
{
    server.SetFault("/data", Fault::CorruptBody());
    auto whole = Get(server.Port(), "/data");
    ASSERT_EQ(kData.size(), whole.body.size());
    EXPECT_NE(testserver::Md5Hex(kData), testserver::Md5Hex(whole.body));
    EXPECT_EQ(static_cast<char>(~static_cast<unsigned char>(kData[0])), whole.body[0]);
    EXPECT_TRUE(whole.body.substr(1) == kData.substr(1));
    auto tail = Get(server.Port(), "/data", "bytes=500-");
    EXPECT_EQ(static_cast<char>(~static_cast<unsigned char>(kData[500])), tail.body[0]);
}

struct StatusCase {
    int status;
    const char* location;
};

class StatusFaultTest : public FaultTest, public ::testing::WithParamInterface<StatusCase> { };

TEST_P(StatusFaultTest, AnswersTheStatus)
{
    const StatusCase& c = GetParam();
    server.SetFault("/data", *c.location ? Fault::Redirect(c.status, c.location) : Fault::Status(c.status, "oops"));
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    auto answer = Get(session, "/data", "bytes=10-");
    EXPECT_EQ(c.status, answer.status);
    EXPECT_EQ(c.location, answer.Get("Location"));
    EXPECT_FALSE(answer.Has("Content-Range"));
    EXPECT_EQ(std::to_string(answer.body.size()), answer.Get("Content-Length"));
    Get(session, "/data");
    auto log = server.Requests();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(log[0].connectionId, log[1].connectionId);
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusFaultTest,
                         ::testing::Values(StatusCase{301, "http://127.0.0.1:1/a"}, StatusCase{302, "/b"},
                                           StatusCase{303, "/c"}, StatusCase{307, "/d"},
                                           StatusCase{308, "http://other.invalid/e"}, StatusCase{404, ""},
                                           StatusCase{500, ""}, StatusCase{503, ""}));

TEST_F(FaultTest, RedirectTargetsAreServed)
{
    server.AddContent("/moved", "here");
    server.SetFault("/data", Fault::Redirect(302, server.Url("/moved")));
    auto first = Get(server.Port(), "/data");
    EXPECT_EQ(server.Url("/moved"), first.Get("Location"));
    EXPECT_EQ("here", Get(server.Port(), "/moved").body);
}

struct CredentialCase {
    const char* name;
    const char* user; // nullptr: no Authorization header
    const char* password;
    int status;
};

class CredentialTest : public FaultTest, public ::testing::WithParamInterface<CredentialCase> { };

TEST_P(CredentialTest, NeedsTheRightBasicCredentials)
{
    const CredentialCase& c = GetParam();
    server.SetFault("/data", Fault::RequireBasic("user", "p:w"));
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    std::unique_ptr<Poco::Net::HTTPBasicCredentials> credentials;
    if (c.user)
        credentials = std::make_unique<Poco::Net::HTTPBasicCredentials>(c.user, c.password);
    auto answer = Get(session, "/data", "", credentials.get());
    EXPECT_EQ(c.status, answer.status);
    if (c.status == 401) {
        EXPECT_EQ("Basic realm=\"testserver\"", answer.Get("WWW-Authenticate"));
    } else {
        EXPECT_TRUE(answer.body == kData);
    }
}

INSTANTIATE_TEST_SUITE_P(Credentials, CredentialTest,
                         ::testing::Values(CredentialCase{"none", nullptr, nullptr, 401},
                                           CredentialCase{"wrong_password", "user", "p", 401},
                                           CredentialCase{"wrong_user", "User", "p:w", 401},
                                           CredentialCase{"right", "user", "p:w", 200}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultTest, CredentialsCombineWithOtherFaults)
{
    Fault fault = Fault::RequireBasic("u", "p");
    fault.status = 302;
    fault.location = "/elsewhere";
    server.SetFault("/data", fault);
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    EXPECT_EQ(401, Get(session, "/data").status);
    Poco::Net::HTTPBasicCredentials credentials("u", "p");
    auto answer = Get(session, "/data", "", &credentials);
    EXPECT_EQ(302, answer.status);
    EXPECT_EQ("/elsewhere", answer.Get("Location"));
}

TEST_F(FaultTest, CloseAfterResponseEndsAKeepAliveConnection)
{
    Fault fault;
    fault.closeAfterResponse = true;
    server.SetFault("/data", fault, 1);
    auto raw = Exchange(server.Port(), "GET /data HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(End::Eof, raw.end);
    EXPECT_EQ("close", raw.Header("Connection"));
    EXPECT_TRUE(raw.body == kData);
    auto again = Exchange(server.Port(), "GET /data HTTP/1.1\r\nHost: x\r\n\r\n", 100ms);
    EXPECT_EQ(End::Timeout, again.end); // kept open for the next request
    EXPECT_EQ("keep-alive", again.Header("Connection"));
}

TEST_F(FaultTest, FaultsApplyToTheNextRequestsInOrder)
{
    server.AddFault("/data", Fault::Status(500), 2);
    server.AddFault("/data", Fault::Status(404), 1);
    server.AddContent("/other", "o");
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    std::vector<int> statuses;
    for (int i = 0; i < 5; ++i)
        statuses.push_back(Get(session, "/data").status);
    statuses.push_back(Get(session, "/other").status);
    EXPECT_EQ((std::vector<int>{500, 500, 404, 200, 200, 200}), statuses);
}

TEST_F(FaultTest, FaultForAllAndItsReplacement)
{
    server.SetFault("/data", Fault::Status(500));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(500, Get(server.Port(), "/data").status);
    server.SetFault("/data", Fault::Status(404), 1);
    EXPECT_EQ(404, Get(server.Port(), "/data").status);
    EXPECT_EQ(200, Get(server.Port(), "/data").status);
    server.SetFault("/data", Fault::Status(503));
    server.ClearFaults("/data");
    EXPECT_EQ(200, Get(server.Port(), "/data").status);
}

TEST_F(FaultTest, WildcardFaultYieldsToAPathFault)
{
    server.AddContent("/other", "o");
    server.SetFault("*", Fault::Status(503));
    server.SetFault("/data", Fault::Status(404), 1);
    EXPECT_EQ(503, Get(server.Port(), "/other").status);
    EXPECT_EQ(404, Get(server.Port(), "/data").status);
    EXPECT_EQ(503, Get(server.Port(), "/data").status);
    server.ClearFaults();
    EXPECT_EQ(200, Get(server.Port(), "/data").status);
}

TEST_F(FaultTest, TrickleIsSlow)
{
    server.SetFault("/data", Fault::Trickle(100, 20ms));
    auto start = std::chrono::steady_clock::now();
    auto answer = Get(server.Port(), "/data");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(answer.body == kData);
    EXPECT_GE(elapsed, 9 * 20ms); // nine pauses between ten pieces
}

TEST_F(FaultTest, ClientTimeOutOnStall)
{
    server.SetFault("/data", Fault::StallAfter(100));
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    session.setTimeout(Poco::Timespan(0, 200 * 1000));
    std::string body;
    try {
        body = Get(session, "/data").body; // the body stream fails on the time-out
    } catch (const Poco::TimeoutException&) {
    }
    EXPECT_LE(body.size(), 100u);
}

// Stop must release handlers that stall or trickle, and their clients see the end.
TEST(FaultStop, StopReleasesStalledAndTricklingHandlers)
{
    TestServer server;
    server.AddContent("/stall", kData);
    server.AddContent("/slow", kData);
    server.SetFault("/stall", Fault::StallAfter(100));
    server.SetFault("/slow", Fault::Trickle(1, 1000ms));
    server.Start();
    auto stalled =
        std::async(std::launch::async, [&] { return Exchange(server.Port(), GetRequest("/stall"), 10000ms); });
    auto trickling =
        std::async(std::launch::async, [&] { return Exchange(server.Port(), GetRequest("/slow"), 10000ms); });
    ASSERT_TRUE(server.WaitForRequests(2, 5s));
    std::this_thread::sleep_for(50ms);
    auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    auto stalledRaw = stalled.get();
    auto tricklingRaw = trickling.get();
    EXPECT_NE(End::Timeout, stalledRaw.end);
    EXPECT_EQ(100u, stalledRaw.body.size());
    EXPECT_NE(End::Timeout, tricklingRaw.end);
    EXPECT_LT(tricklingRaw.body.size(), kData.size());
}

} // namespace
