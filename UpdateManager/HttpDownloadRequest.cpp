#include "UpdateManager/HttpDownloadRequest.h"

#include "Common/Log.h"
#include "UpdateManager/JsonNesting.h"
#include "UpdateManager/UrlText.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/Socket.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string_view>
#include <typeinfo>

namespace Quendal {
namespace UpdateManager {

namespace {

// Largest redirect body read so that its connection can be used again.
constexpr std::streamsize MaxDiscardedBody = 64 * 1024;

std::string ExceptionText(const std::exception& error)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&error))
        return poco->displayText();
    return error.what();
}

// Basic credentials from the URI's user-info part; null when it has none.
std::unique_ptr<Poco::Net::HTTPBasicCredentials> CredentialsOf(const Poco::URI& uri)
{
    const std::string& userInfo = uri.getUserInfo();
    if (userInfo.empty())
        return nullptr;
    std::string user;
    std::string password;
    SplitUserInfo(userInfo, user, password);
    Logger().Debug(LogCategory::Web, "Authenticate with ", user, ":", "***");
    return std::make_unique<Poco::Net::HTTPBasicCredentials>(user, password);
}

using Poco::Net::HTTPResponse;

bool IsRedirect(HTTPResponse::HTTPStatus code)
{
    return code == HTTPResponse::HTTP_MOVED_PERMANENTLY || code == HTTPResponse::HTTP_FOUND ||
           code == HTTPResponse::HTTP_SEE_OTHER || code == HTTPResponse::HTTP_TEMPORARY_REDIRECT ||
           code == HTTPResponse::HTTP_PERMANENT_REDIRECT;
}

double Fraction(int64_t done, int64_t total)
{
    if (total <= 0 || done <= 0)
        return 0.0;
    if (done >= total)
        return 1.0;
    return static_cast<double>(done) / static_cast<double>(total);
}

} // namespace

class HttpDownloadRequest::Session : public Poco::Net::HTTPClientSession {
public:
    // Bytes received but not read yet: the session reads ahead of an
    // answer's end, so a surplus of that answer may sit here, not on the socket.
    bool HoldsUnreadBytes() const { return buffered() > 0; }
};

HttpDownloadRequest::HttpDownloadRequest(std::chrono::milliseconds timeout)
    : session(std::make_unique<Session>())
    , responseStream(nullptr)
    , bytesReceived(0)
    , progress(0.0)
    , downloadedSize(0)
    , status(TransferStatus::None)
    , accepted(false)
    , contentLength(0)
    , resumeOffset(0)
    , bodyOffset(0)
    , lengthKnown(false)
    , rangeIgnored(false)
    , responseLength(-1)
    , responseChunked(false)
    , responseKeepAlive(false)
    , connectionReusable(false)
{
    session->setTimeout(Poco::Timespan(std::chrono::duration_cast<std::chrono::microseconds>(timeout).count()));
    session->setKeepAlive(true);
}

HttpDownloadRequest::~HttpDownloadRequest() = default;

int64_t HttpDownloadRequest::GetTotalSize() const
{
    if (!lengthKnown)
        return 0;
    const int64_t total = bodyOffset + contentLength;
    return total > 0 ? total : 0;
}

void HttpDownloadRequest::UpdateProgress()
{
    progress = lengthKnown ? Fraction(downloadedSize, bodyOffset + contentLength) : 0.0;
}

void HttpDownloadRequest::Refuse(TransferStatus outcome)
{
    accepted = false;
    status = outcome;
    responseStream = nullptr;
}

void HttpDownloadRequest::RefuseAndClose(TransferStatus outcome)
{
    session->reset();
    Refuse(outcome);
}

void HttpDownloadRequest::Open(const std::string& url)
{
    BeginTransfer();
    std::string working;
    if (!WithHttpScheme(url, working))
        return;
    Poco::URI uri;
    std::unique_ptr<Poco::Net::HTTPBasicCredentials> credentials;
    if (!ParseTarget(url, working, uri, credentials))
        return;
    try {
        Poco::Net::HTTPResponse response;
        std::istream* body = FollowRedirects(url, uri, credentials, response);
        if (body)
            TakeAnswer(response, *body);
    } catch (const std::exception& error) {
        session->reset();
        FailConnection(url, ExceptionText(error));
    }
}

void HttpDownloadRequest::BeginTransfer()
{
    status = TransferStatus::None;
    progress = 0.0;
    bytesReceived = 0;
    accepted = false;
    responseStream = nullptr;
    const int64_t offset = resumeOffset;
    bodyOffset = offset > 0 ? offset : 0;
    downloadedSize = bodyOffset;
    contentLength = 0;
    lengthKnown = false;
    rangeIgnored = false;
}

bool HttpDownloadRequest::WithHttpScheme(const std::string& url, std::string& working)
{
    working = url;
    if (boost::algorithm::istarts_with(url, "http:/"))
        return true;
    if (StartsWithSchemeColonSlash(url)) {
        Logger().Error(LogCategory::Web, "Unsupported scheme in URL ", MaskPassword(url));
        Refuse(TransferStatus::Error);
        return false;
    }
    working = "http://" + url;
    return true;
}

bool HttpDownloadRequest::ParseTarget(const std::string& url, const std::string& working, Poco::URI& uri,
                                      std::unique_ptr<Poco::Net::HTTPBasicCredentials>& credentials)
{
    try {
        uri = Poco::URI(working);
        if (uri.getHost().empty()) {
            FailConnection(url, "Syntax error: URL without host: " + MaskPassword(working));
            return false;
        }
        Logger().Debug(LogCategory::Web, "Request URI: ", MaskPassword(uri.toString()));
        credentials = CredentialsOf(uri);
        return true;
    } catch (const std::exception& error) {
        FailConnection(url, ExceptionText(error));
        return false;
    }
}

void HttpDownloadRequest::FailConnection(const std::string& url, const std::string& reason)
{
    Logger().Error(LogCategory::Web, "Error connecting to ", MaskPassword(url), ": ", reason);
    Refuse(TransferStatus::ConnectionFailed);
}

std::istream* HttpDownloadRequest::FollowRedirects(const std::string& url, Poco::URI current,
                                                   std::unique_ptr<Poco::Net::HTTPBasicCredentials>& credentials,
                                                   Poco::Net::HTTPResponse& response)
{
    std::istream* body = &Exchange(current, credentials.get(), response);
    for (int redirects = 0; IsRedirect(response.getStatus()); ++redirects) {
        if (redirects == MaxRedirects) {
            Logger().Error(LogCategory::Web, "Too many redirects for ", MaskPassword(url));
            RefuseAndClose(TransferStatus::Error);
            return nullptr;
        }
        const std::string location = response.get("Location", "");
        Poco::URI next;
        if (!ResolveLocation(current, location, next)) {
            Logger().Error(LogCategory::Web, "Bad response header: Location: ", MaskPassword(location));
            RefuseAndClose(TransferStatus::Error);
            return nullptr;
        }
        DiscardBody(*body);
        if (!next.getUserInfo().empty())
            credentials = CredentialsOf(next);
        else if (next.getHost() != current.getHost() || next.getPort() != current.getPort())
            credentials.reset();
        Logger().Debug(LogCategory::Web, "Redirect to ", MaskPassword(next.toString()));
        current = next;
        body = &Exchange(current, credentials.get(), response);
    }
    return body;
}

void HttpDownloadRequest::TakeAnswer(const Poco::Net::HTTPResponse& response, std::istream& body)
{
    if (body.fail()) {
        RefuseAndClose(TransferStatus::ConnectionFailed);
        return;
    }
    responseStream = &body;
    lengthKnown = responseLength >= 0;
    contentLength = responseLength;

    switch (response.getStatus()) {
    case HTTPResponse::HTTP_OK:
    case HTTPResponse::HTTP_CREATED:
    case HTTPResponse::HTTP_ACCEPTED:
        accepted = true;
        if (resumeOffset > 0) {
            // The server ignored the range: this is the resource from byte 0.
            rangeIgnored = true;
            bodyOffset = 0;
            downloadedSize = 0;
        }
        break;
    case HTTPResponse::HTTP_PARTIAL_CONTENT:
        accepted = CheckRange(response);
        break;
    case HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE:
        CheckUnsatisfiedRange(response);
        break;
    default:
        break;
    }
    if (!accepted) {
        session->reset();
        responseStream = nullptr;
    }
    UpdateProgress();
}

std::istream& HttpDownloadRequest::Exchange(const Poco::URI& uri, const Poco::Net::HTTPBasicCredentials* credentials,
                                            Poco::Net::HTTPResponse& response)
{
    const bool kept = Target(uri);
    std::string target = uri.getPathAndQuery();
    if (target.empty())
        target = "/";
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target, Poco::Net::HTTPMessage::HTTP_1_1);
    if (credentials)
        credentials->authenticate(request);
    const int64_t offset = resumeOffset;
    if (offset > 0)
        request.set("Range", "bytes=" + std::to_string(offset) + "-");

    for (bool retried = false;; retried = true) {
        connectionReusable = false;
        responseLength = -1;
        responseChunked = false;
        responseKeepAlive = false;
        try {
            session->sendRequest(request);
            std::istream& body = session->receiveResponse(response);
            responseLength = response.hasContentLength() ? response.getContentLength64() : -1;
            responseChunked = response.getChunkedTransferEncoding();
            responseKeepAlive = response.getKeepAlive();
            if (Logger().IsEnabled(LogCategory::Web, CLog::Level::Debug)) {
                std::ostringstream header;
                response.write(header);
                Logger().Debug(LogCategory::Web, "Response Header: ", header.str());
            }
            return body;
        } catch (const Poco::IOException& error) {
            // A kept connection that the server has closed meanwhile: send
            // once more on a new one.
            const bool closed = dynamic_cast<const Poco::Net::NoMessageException*>(&error) ||
                                dynamic_cast<const Poco::Net::ConnectionResetException*>(&error) ||
                                dynamic_cast<const Poco::Net::ConnectionAbortedException*>(&error) ||
                                typeid(error) == typeid(Poco::IOException);
            if (!kept || retried || !closed)
                throw;
            session->reset();
        }
    }
}

bool HttpDownloadRequest::Target(const Poco::URI& uri)
{
    if (session->getHost() != uri.getHost() || session->getPort() != uri.getPort()) {
        session->reset();
        session->setHost(uri.getHost());
        session->setPort(uri.getPort());
        return false;
    }
    if (!session->connected())
        return false;
    // An idle connection that holds or can be read holds stray bytes of an
    // earlier answer, or its end: it cannot carry the next request.
    bool usable = connectionReusable && !session->HoldsUnreadBytes();
    if (usable) {
        try {
            usable = !session->socket().poll(Poco::Timespan(0), Poco::Net::Socket::SELECT_READ);
        } catch (const std::exception&) {
            usable = false;
        }
    }
    if (!usable)
        session->reset();
    return usable;
}

void HttpDownloadRequest::DiscardBody(std::istream& body)
{
    const bool delimited = responseLength >= 0 || responseChunked;
    if (responseKeepAlive && delimited && responseLength <= MaxDiscardedBody) {
        body.ignore(MaxDiscardedBody + 1);
        if (body.eof() && !body.bad()) {
            connectionReusable = true;
            return;
        }
    }
    session->reset();
}

bool HttpDownloadRequest::CheckRange(const Poco::Net::HTTPResponse& response)
{
    const std::string value = response.get("Content-Range", "");
    ContentRange range;
    bool good = ParseContentRange(value, range) && range.first == bodyOffset &&
                (range.total < 0 || range.last + 1 == range.total);
    const int64_t length = range.last - range.first + 1;
    if (good && lengthKnown && contentLength != length)
        good = false;
    if (!good) {
        Logger().Error(LogCategory::Web, "Bad response header: Content-Range: ", value);
        status = TransferStatus::Error;
        return false;
    }
    contentLength = length;
    lengthKnown = true;
    return true;
}

void HttpDownloadRequest::CheckUnsatisfiedRange(const Poco::Net::HTTPResponse& response)
{
    if (!response.has("Content-Range")) {
        Logger().Error(LogCategory::Web, "Bad response header: Content-Range: ", "");
        status = TransferStatus::Error;
        return;
    }
    const std::string value = response.get("Content-Range");
    const std::size_t slash = value.rfind('/');
    if (slash == std::string::npos)
        return;
    int64_t total = 0;
    if (!ParseRangeTotal(std::string_view(value).substr(slash + 1), total)) {
        Logger().Error(LogCategory::Web, "Bad response header: Content-Range: ", value);
        status = TransferStatus::Error;
        return;
    }
    contentLength = total - bodyOffset;
    lengthKnown = true;
    accepted = contentLength == 0;
}

bool HttpDownloadRequest::PeerClosed() const
{
    if (!session->connected())
        return false;
    try {
        Poco::Net::StreamSocket& socket = session->socket();
        return socket.poll(Poco::Timespan(0), Poco::Net::Socket::SELECT_READ) && socket.available() == 0;
    } catch (const std::exception&) {
        return true;
    }
}

bool HttpDownloadRequest::HasMoreData()
{
    if (!responseStream)
        return false;
    const bool known = lengthKnown;
    if (!known && responseStream->good()) {
        // A body without a length ends where its stream does: look ahead when
        // nothing is buffered, so that its end is seen here and ReadChunk
        // never has to return 0 for it.
        std::streambuf* source = responseStream->rdbuf();
        try {
            if (source->in_avail() <= 0 &&
                std::streambuf::traits_type::eq_int_type(source->sgetc(), std::streambuf::traits_type::eof()))
                responseStream->setstate(std::ios::eofbit | std::ios::failbit);
        } catch (...) {
            responseStream->setstate(std::ios::badbit);
        }
    }
    if (responseStream->eof()) {
        // A clean end before the announced length, or a chunked body whose
        // connection closed without the closing chunk, stopped short.
        bool shortBody = known && bytesReceived < contentLength;
        if (!shortBody && !known && responseChunked && responseKeepAlive)
            shortBody = PeerClosed();
        responseStream = nullptr;
        if (shortBody) {
            session->reset();
            status = TransferStatus::Interrupted;
        } else {
            status = TransferStatus::Complete;
            connectionReusable = responseKeepAlive && (responseLength >= 0 || responseChunked);
            if (!known)
                progress = 1.0;
        }
        return false;
    }
    if (known && bytesReceived >= contentLength) {
        status = TransferStatus::Complete;
        connectionReusable = responseKeepAlive && responseLength >= 0 && bytesReceived == responseLength;
        responseStream = nullptr;
        return false;
    }
    if (responseStream->good())
        return true;
    session->reset();
    responseStream = nullptr;
    const bool allHeld = known && downloadedSize >= bodyOffset + contentLength;
    status = allHeld ? TransferStatus::Error : TransferStatus::Interrupted;
    return false;
}

int64_t HttpDownloadRequest::ReadChunk(std::ostream& out)
{
    if (!responseStream)
        return 0;
    // Taken from the stream buffer piece by piece, so that the bytes that
    // arrived before a failing read (time-out, reset) are kept.
    std::streambuf* source = responseStream->rdbuf();
    std::ios::iostate state = std::ios::goodbit;
    std::streamsize n = 0;
    try {
        while (n < ChunkSize) {
            const std::streamsize buffered = source->in_avail();
            if (buffered > 0) {
                n += source->sgetn(buffer + n, std::min(buffered, ChunkSize - n));
            } else if (std::streambuf::traits_type::eq_int_type(source->sgetc(), std::streambuf::traits_type::eof())) {
                state |= std::ios::eofbit | std::ios::failbit;
                break;
            }
        }
    } catch (...) {
        state |= std::ios::badbit;
    }
    if (state != std::ios::goodbit)
        responseStream->setstate(state);
    if (n > 0) {
        out.write(buffer, n);
        bytesReceived += n;
        const int64_t position = static_cast<int64_t>(out.tellp());
        downloadedSize = position >= 0 ? position : bodyOffset + bytesReceived;
        UpdateProgress();
    }
    if (responseStream->bad())
        session->reset();
    return n;
}

bool HttpDownloadRequest::GetJson(const std::string& url, boost::property_tree::ptree& out,
                                  std::function<void(double)> callback)
{
    (void)callback;
    std::stringstream text;
    Open(url);
    if (!accepted)
        return false;
    bool tooLarge = lengthKnown && contentLength > MaxJsonSize;
    while (!tooLarge && HasMoreData()) {
        ReadChunk(text);
        tooLarge = bytesReceived > MaxJsonSize;
    }
    if (tooLarge) {
        Logger().Error(LogCategory::Web, "Response too large (more than ", MaxJsonSize, " bytes): ", MaskPassword(url));
        RefuseAndClose(TransferStatus::Error);
        return false;
    }
    if (status != TransferStatus::Complete)
        return false;
    // The JSON reader is recursive: deep nesting would exhaust the stack.
    if (!JsonNestingWithinLimit(text.str())) {
        Logger().Error(LogCategory::Web, "Response nested too deeply (more than ", MaxJsonNesting,
                       " levels): ", MaskPassword(url));
        return false;
    }
    try {
        boost::property_tree::read_json(text, out);
    } catch (const boost::property_tree::json_parser::json_parser_error& error) {
        Logger().Error(LogCategory::Web, "Invalid json format Response: ", error.what());
        return false;
    }
    return true;
}

} // namespace UpdateManager
} // namespace Quendal
