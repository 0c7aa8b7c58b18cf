#pragma once
// Small clients for the test server's own tests: POCO's HTTP client, and a raw
// socket client that shows exactly what came over the wire and how it ended.

#include "Common/Numbers.h"

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>
#include <Poco/Timespan.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

namespace Quendal {
namespace Testing {

struct Answer {
    int status = 0;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;
    bool Has(const std::string& name) const { return headers.count(Poco::toLower(name)) != 0; }
    std::string Get(const std::string& name) const
    {
        auto it = headers.find(Poco::toLower(name));
        return it == headers.end() ? std::string() : it->second;
    }
};

inline Answer Get(Poco::Net::HTTPClientSession& session, const std::string& target,
                  const std::string& range = std::string(),
                  const Poco::Net::HTTPBasicCredentials* credentials = nullptr)
{
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target, Poco::Net::HTTPMessage::HTTP_1_1);
    if (!range.empty())
        request.set("Range", range);
    if (credentials)
        credentials->authenticate(request);
    session.setKeepAlive(true); // POCO sends "Connection: close" otherwise
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& in = session.receiveResponse(response);
    Answer answer;
    answer.status = response.getStatus();
    for (const auto& header : response)
        answer.headers[Poco::toLower(header.first)] = header.second;
    std::ostringstream body;
    Poco::StreamCopier::copyStream(in, body);
    answer.body = body.str();
    return answer;
}

inline Answer Get(std::uint16_t port, const std::string& target, const std::string& range = std::string())
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(5, 0));
    return Get(session, target, range);
}

enum class End { Eof, Reset, Timeout };

struct Raw {
    std::string bytes;
    End end = End::Eof;
    int status = 0;
    std::string head; // status line and header fields
    std::string body; // everything after the blank line
    std::string Header(const std::string& name) const
    {
        std::istringstream lines(head);
        std::string line;
        while (std::getline(lines, line)) {
            auto colon = line.find(':');
            if (colon != std::string::npos && Poco::icompare(line.substr(0, colon), name) == 0)
                return Poco::trim(line.substr(colon + 1));
        }
        return std::string();
    }
    bool HasHeader(const std::string& name) const
    {
        std::istringstream lines(head);
        std::string line;
        while (std::getline(lines, line)) {
            auto colon = line.find(':');
            if (colon != std::string::npos && Poco::icompare(line.substr(0, colon), name) == 0)
                return true;
        }
        return false;
    }
};

// Sends `request` as it is and reads until the server closes, resets, or stays
// silent for `quiet`.
inline Raw Exchange(std::uint16_t port, const std::string& request,
                    std::chrono::milliseconds quiet = std::chrono::milliseconds(300))
{
    Poco::Net::StreamSocket socket;
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(5, 0));
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    Raw raw;
    char buffer[8192];
    for (;;) {
        try {
            if (!socket.poll(Poco::Timespan(0, static_cast<long>(quiet.count()) * 1000),
                             Poco::Net::Socket::SELECT_READ)) {
                raw.end = End::Timeout;
                break;
            }
            int n = socket.receiveBytes(buffer, sizeof buffer);
            if (n <= 0) {
                raw.end = End::Eof;
                break;
            }
            raw.bytes.append(buffer, static_cast<std::size_t>(n));
        } catch (const Poco::Net::ConnectionResetException&) {
            raw.end = End::Reset;
            break;
        }
    }
    auto blank = raw.bytes.find("\r\n\r\n");
    if (blank != std::string::npos) {
        raw.head = raw.bytes.substr(0, blank + 2);
        raw.body = raw.bytes.substr(blank + 4);
        if (raw.head.compare(0, 9, "HTTP/1.1 ") == 0)
            ParseDigits(raw.head.substr(9, 3), raw.status);
    }
    return raw;
}

inline std::string GetRequest(const std::string& target, const std::string& extraHeaders = std::string())
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders + "\r\n";
}

} // namespace Testing
} // namespace Quendal
