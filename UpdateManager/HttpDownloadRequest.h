#pragma once
// One resumable HTTP/1.1 GET at a time over a client session that is kept
// from one request to the next.
//
// Download: SetResumeOffset (bytes already held; 0 for a fresh one), Open,
// and when IsAccepted: ReadChunk while HasMoreData, then GetStatus. When
// IsRangeIgnored the body starts at byte 0 and the output must be started
// again. Only http is spoken; a URL without a scheme gets "http://".
//
// One thread uses an object at a time (the download worker for a job's
// request, the engine's thread for a refresh's), so its fields are plain.

#include <boost/property_tree/ptree_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace Poco {
class URI;
namespace Net {
class HTTPBasicCredentials;
class HTTPClientSession;
class HTTPResponse;
} // namespace Net
} // namespace Poco

namespace Quendal {
namespace UpdateManager {

enum class TransferStatus : int {
    None = 0,             // request under way, or the answer was not accepted
    Complete = 1,         // the whole body has been read
    Error = 3,            // refused answer or URL, or a failure that resuming cannot mend
    Interrupted = 4,      // the body stopped short; the transfer can be resumed
    ConnectionFailed = 5, // no answer: the server could not be reached
};

class HttpDownloadRequest {
public:
    static constexpr std::streamsize ChunkSize = 8192;
    // Largest body GetJson reads.
    static constexpr int64_t MaxJsonSize = 4 * 1024 * 1024;
    static constexpr int MaxRedirects = 5;
    // Socket time-out for connecting, sending and receiving.
    static constexpr std::chrono::milliseconds DefaultTimeout = std::chrono::seconds(10);

    explicit HttpDownloadRequest(std::chrono::milliseconds timeout = DefaultTimeout);
    ~HttpDownloadRequest();
    HttpDownloadRequest(const HttpDownloadRequest&) = delete;
    HttpDownloadRequest& operator=(const HttpDownloadRequest&) = delete;

    // Sends the GET (following up to MaxRedirects redirects) and reads the
    // answer's header. Never throws: a refused URL or answer leaves
    // IsAccepted false and GetStatus None (other HTTP status), Error or
    // ConnectionFailed.
    void Open(const std::string& url);
    // True while body data is to be read; otherwise settles the status
    // (Complete, Interrupted or Error) and drops the body stream. For a body
    // of unknown length it waits for the next byte (at most the time-out), so
    // that its end is seen here and not by an empty ReadChunk.
    bool HasMoreData();
    // Reads up to ChunkSize body bytes into `out` and returns their count;
    // call after HasMoreData returned true. The downloaded size is the put
    // position of `out` afterwards (for a file opened to append: its size).
    int64_t ReadChunk(std::ostream& out);

    bool IsAccepted() const { return accepted; }
    TransferStatus GetStatus() const { return status; }
    // Downloaded size over total size, in 0..1; 0 while the total is unknown.
    double GetProgress() const { return progress; }
    // The put position of the output after the last chunk; after Open, the
    // part already held. The design's; nothing in the engine reads it.
    int64_t GetDownloadedSize() const { return downloadedSize; }
    // Where the body starts in the resource plus its announced length; 0 when
    // the answer announced no length.
    int64_t GetTotalSize() const;
    void SetResumeOffset(int64_t offset) { resumeOffset = offset; }
    // True when a range was asked but the server sent the whole resource
    // from byte 0: the caller must start its output again, not append.
    bool IsRangeIgnored() const { return rangeIgnored; }

    // Fetches a whole body (at most MaxJsonSize bytes) and parses it as JSON;
    // false, with an error line, for text nested deeper than MaxJsonNesting
    // (JsonNesting.h). The callback is the design's and is never called.
    bool GetJson(const std::string& url, boost::property_tree::ptree& out, std::function<void(double)> callback);

private:
    // The HTTP client session, which also tells whether it holds unread bytes.
    class Session;

    // The steps of Open.
    // Resets the outcome of the last transfer.
    void BeginTransfer();
    // `url` with "http://" in front unless it begins with "http:/"; false
    // (refused) for another explicit scheme.
    bool WithHttpScheme(const std::string& url, std::string& working);
    // Parses the working URL and takes the credentials of its user-info
    // part; false (refused) when it cannot be parsed or has no host.
    bool ParseTarget(const std::string& url, const std::string& working, Poco::URI& uri,
                     std::unique_ptr<Poco::Net::HTTPBasicCredentials>& credentials);
    // Sends the GET and follows up to MaxRedirects redirects; the final
    // answer's body, or null when a redirect was refused.
    std::istream* FollowRedirects(const std::string& url, Poco::URI current,
                                  std::unique_ptr<Poco::Net::HTTPBasicCredentials>& credentials,
                                  Poco::Net::HTTPResponse& response);
    // Accepts or refuses the final answer by its status.
    void TakeAnswer(const Poco::Net::HTTPResponse& response, std::istream& body);

    // Sends one GET to `uri` and reads the answer's header.
    std::istream& Exchange(const Poco::URI& uri, const Poco::Net::HTTPBasicCredentials* credentials,
                           Poco::Net::HTTPResponse& response);
    // Points the session at the URI's host and port; closes a connection
    // that cannot carry the next request. True when a connection is kept.
    bool Target(const Poco::URI& uri);
    // Reads and drops a small body so the connection can be used again.
    void DiscardBody(std::istream& body);
    // Status line checks of the final answer; false when refused.
    bool CheckRange(const Poco::Net::HTTPResponse& response);
    void CheckUnsatisfiedRange(const Poco::Net::HTTPResponse& response);
    // The peer has closed the connection (nothing left to read but its end).
    bool PeerClosed() const;
    void Refuse(TransferStatus outcome);
    // Logs "Error connecting to" the URL and refuses with ConnectionFailed.
    void FailConnection(const std::string& url, const std::string& reason);
    // Refuse, closing the connection.
    void RefuseAndClose(TransferStatus outcome);
    void UpdateProgress();

    std::unique_ptr<Session> session;
    std::istream* responseStream;
    char buffer[ChunkSize];
    int64_t bytesReceived;
    double progress;
    int64_t downloadedSize;
    TransferStatus status;
    bool accepted;
    int64_t contentLength;
    int64_t resumeOffset;

    // Position of the body's first byte in the resource.
    int64_t bodyOffset;
    bool lengthKnown;
    bool rangeIgnored;
    // Content-Length of the current answer (-1: none) and how its body ends.
    int64_t responseLength;
    bool responseChunked;
    bool responseKeepAlive;
    // The connection has no unread bytes and can carry the next request.
    bool connectionReusable;
};

} // namespace UpdateManager
} // namespace Quendal
