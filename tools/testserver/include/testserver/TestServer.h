// A small HTTP/1.1 server for tests and demos, listening on 127.0.0.1.
//
// Built on POCO's sockets and HTTP message classes with its own accept loop and one
// thread per connection, so that every fault below has full control of the socket
// (stall, reset, clean close, wrong framing) and Stop() never waits on a handler.
//
// What it serves, looked up by the request path (the target without its query; the
// raw path is tried first, then its percent-decoded form):
//   1. content added by a test: AddContent (in memory), AddFile (streamed from disk),
//      SetAnswer / SetJsonAnswer (scripted status + body);
//   2. the resources web API, built from a release folder:
//        GET /api/resources/<type>/<sku>/<platform>/latest
//   3. release files: GET /releases/<sku>/<file>
//   anything else: 404.
// Content with status 200 honours "Range: bytes=N-", "bytes=N-M" and "bytes=-S":
// 206 with Content-Range; a start at or past the end: 416 with "Content-Range: bytes */N".
// A range that does not parse (or several ranges) is ignored: 200 with the whole body.
//
// Release folder layout (SetReleaseFolder, or --releases DIR of the program):
//   DIR/<SKU>/release.json     optional JSON object of extra resource members
//   DIR/<SKU>/<installer file> the file served at /releases/<SKU>/<file>
// The installer file is the member "file" of release.json when given, otherwise the
// only regular file of the folder other than release.json (several files and no
// "file" member: the first by name). For a SKU folder the API answers
//   {"total": 1, "resources": [{"product_sku": SKU, "name": SKU, "version": "1.0.0",
//    "permalink": "<BaseUrl>/releases/<SKU>/<file>", "size": <bytes>,
//    "checksum": "<lower-case hex MD5>", ...members of release.json}]}
// where the members of release.json (except "file") are added after the generated
// ones and replace those of the same name; so release.json can carry "name",
// "version", "platform_min_version", "platform_max_version",
// "platform_display_version", "links": {"product_page": {"href": ...}},
// "resources_site_link", "release_notes_html", or a deliberately wrong "checksum",
// "size" or "permalink". Without an installer file, "permalink", "size" and
// "checksum" are left out unless release.json gives them. The type and platform
// segments are not looked at. A SKU without a folder (or "." / "..") gets
// {"total": 0, "resources": []} with status 200; a bad release.json gets status 500.
// MD5 sums are cached per file, size and time.
//
// Note for clients on POCO: HTTPClientSession sends "Connection: close" unless
// setKeepAlive(true) is called, and this server honours it.
//
// Faults are set per path (or "*" for every path that has none of its own) and apply
// to the next `times` requests of that path, or to all (kAlways). Several faults on
// one path form a queue: the first is used until its count runs out. Every request
// that meets a fault counts, one refused with 401 too.
//
// Every request is recorded (method, target, Range, Authorization, Host, connection
// id) when its header has been read, before the answer is sent.
//
// Thread-safe: every member function may be called from any thread while the server
// runs. Stop() (and the destructor) closes the listening socket, releases stalled
// and trickling handlers, shuts down open connections and joins every thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testserver {

// One request as the server read it.
struct RecordedRequest {
    std::string method;  // "GET"
    std::string uri;     // request target as sent, with its query
    std::string path;    // target without its query
    std::string version; // "HTTP/1.1"
    bool hasRange = false;
    std::string range; // value of the Range header, empty when absent
    bool hasAuthorization = false;
    std::string authorization;                                // value of the Authorization header, empty when absent
    std::string host;                                         // value of the Host header
    std::uint64_t connectionId = 0;                           // 1, 2, ... per accepted TCP connection
    std::size_t requestOnConnection = 0;                      // 1 for the first request of its connection
    std::vector<std::pair<std::string, std::string>> headers; // every header, in order
    std::chrono::steady_clock::time_point received;

    // Value of the first header of that name (case-insensitive), empty when absent.
    std::string Header(const std::string& name) const;
};

// How to misbehave on one request. Fields combine; the builders set the usual ones.
struct Fault {
    enum class Cut {
        None,
        Stall, // send nothing more until Stop() (or stallFor has passed, then go on)
        Reset, // SO_LINGER 0 and close: the peer sees a connection reset
        Close, // close cleanly (FIN)
    };

    Cut cut = Cut::None;
    std::int64_t cutAfterBytes = 0;         // body bytes sent before the cut (clamped to the body)
    bool cutBeforeHeaders = false;          // cut before the status line instead
    std::chrono::milliseconds stallFor{-1}; // Stall: negative = until Stop()

    // Status answer: when not 0 the path's content is not used; `body` is sent with
    // this status (and `location` as Location when not empty). No Range handling.
    int status = 0;
    std::string body;
    std::string contentType = "text/plain";
    std::string location;

    // Extra answer headers; one of the same name as a generated header replaces it.
    std::vector<std::pair<std::string, std::string>> headers;

    bool ignoreRange = false;      // 200 with the whole body even when Range is sent
    bool omitContentRange = false; // 206 and 416 without Content-Range
    std::string contentRange;      // sent instead of the computed Content-Range value

    // Content-Length announced instead of the real one; the real body is sent and the
    // connection is closed after it.
    std::int64_t announcedLength = -1;
    bool omitContentLength = false; // no Content-Length, not chunked: the close ends the body
    bool chunked = false;           // Transfer-Encoding: chunked, no Content-Length
    std::size_t chunkSize = 8192;

    // 401 with WWW-Authenticate unless the request carries these Basic credentials;
    // with the right ones the rest of this fault applies.
    bool requireBasic = false;
    std::string user;
    std::string password;

    // Send the body `trickleBytes` at a time with a pause of `trickleInterval` after each.
    std::size_t trickleBytes = 0;
    std::chrono::milliseconds trickleInterval{0};

    bool corruptBody = false;                        // the first body byte sent is inverted (same size, other MD5)
    bool closeAfterResponse = false;                 // "Connection: close" and close after the answer
    std::chrono::milliseconds delayBeforeHeaders{0}; // wait before the status line
    std::string rawResponse;                         // when not empty: these bytes are sent as they are, then close
    bool rawKeepsConnection = false;                 // after rawResponse: read the next request instead of closing

    static Fault StallAfter(std::int64_t bytes, std::chrono::milliseconds stallFor = std::chrono::milliseconds(-1));
    static Fault ResetAfter(std::int64_t bytes);
    static Fault CloseAfter(std::int64_t bytes);
    static Fault IgnoreRange();
    static Fault WrongLength(std::int64_t announcedLength);
    static Fault Chunked(std::size_t chunkSize = 8192);
    static Fault NoContentLength();
    static Fault Redirect(int status, std::string location);
    static Fault RequireBasic(std::string user, std::string password);
    static Fault Status(int status, std::string body = std::string());
    static Fault Trickle(std::size_t bytes, std::chrono::milliseconds interval);
    static Fault CorruptBody();
    static Fault Without416ContentRange();
    static Fault Raw(std::string response);
};

class TestServer {
public:
    static constexpr int kAlways = -1;

    // port 0: an ephemeral port, chosen by Start() (and kept by a later Start()).
    explicit TestServer(std::uint16_t port = 0);
    ~TestServer(); // Stop()

    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Binds 127.0.0.1:port and starts accepting; throws std::runtime_error when the
    // port cannot be bound. Does nothing when already running.
    void Start();
    // Never hangs: stalled and trickling handlers are released, connections shut down.
    void Stop();
    bool IsRunning() const;

    std::uint16_t Port() const;                     // the bound port once started
    std::string BaseUrl() const;                    // "http://127.0.0.1:<port>"
    std::string Url(const std::string& path) const; // BaseUrl() + path

    // Content (an existing entry at the path is replaced).
    void AddContent(const std::string& path, std::string body, std::string contentType = "application/octet-stream");
    // Streamed from disk at each request (never loaded whole); a missing file gives 404.
    void AddFile(const std::string& path, const std::string& filePath,
                 std::string contentType = "application/octet-stream");
    // Scripted answer: status and body, no Range handling unless status is 200.
    void SetAnswer(const std::string& path, int status, std::string body, std::string contentType);
    void SetJsonAnswer(const std::string& path, int status, std::string json);
    void RemoveContent(const std::string& path);
    void ClearContent();

    // Release folder for the resources web API and /releases/ (empty: none).
    void SetReleaseFolder(const std::string& folder);
    std::string ReleaseFolder() const;
    // The API path that this server answers for a product.
    static std::string ApiPath(const std::string& type, const std::string& sku, const std::string& platform);

    // Faults. AddFault appends to the path's queue; SetFault replaces the queue.
    void AddFault(const std::string& path, const Fault& fault, int times = kAlways);
    void SetFault(const std::string& path, const Fault& fault, int times = kAlways);
    void ClearFaults(const std::string& path);
    void ClearFaults();

    // Request log.
    std::vector<RecordedRequest> Requests() const;
    std::vector<RecordedRequest> RequestsFor(const std::string& path) const;
    std::size_t RequestCount() const;
    void ClearRequests();
    // True once at least `count` requests are in the log; false after the time-out.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // TCP connections accepted since construction.
    std::uint64_t ConnectionCount() const;

    // Called on the connection's thread for each request after it was recorded
    // (the program uses it for --verbose). Set it before Start().
    void SetRequestObserver(std::function<void(const RecordedRequest&)> observer);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Lower-case hex MD5 of a text, and of a file (empty when it cannot be read).
std::string Md5Hex(const std::string& data);
std::string Md5HexOfFile(const std::string& filePath);

} // namespace testserver
