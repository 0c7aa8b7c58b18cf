#include "testserver/TestServer.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Got {
    int status = 0;
    std::string body;
    std::string contentRange;
};

Got Get(Poco::Net::HTTPClientSession& session, const std::string& path, const std::string& range = "") {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
    if (!range.empty()) request.set("Range", range);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& in = session.receiveResponse(response);
    Got got;
    got.status = response.getStatus();
    std::ostringstream body;
    Poco::StreamCopier::copyStream(in, body);
    got.body = body.str();
    got.contentRange = response.get("Content-Range", "");
    return got;
}

TEST(TestServerBasic, ServesContentWithRange) {
    testserver::TestServer server;
    server.Start();
    server.AddContent("/file.bin", "0123456789");
    Poco::Net::HTTPClientSession session("127.0.0.1", server.Port());
    session.setKeepAlive(true);
    Got whole = Get(session, "/file.bin");
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ("0123456789", whole.body);
    Got part = Get(session, "/file.bin", "bytes=4-");
    EXPECT_EQ(206, part.status);
    EXPECT_EQ("456789", part.body);
    EXPECT_EQ("bytes 4-9/10", part.contentRange);
    Got past = Get(session, "/file.bin", "bytes=10-");
    EXPECT_EQ(416, past.status);
    EXPECT_EQ("bytes */10", past.contentRange);
    auto log = server.Requests();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(log[0].connectionId, log[2].connectionId);
    EXPECT_EQ("bytes=4-", log[1].range);
}

}  // namespace
