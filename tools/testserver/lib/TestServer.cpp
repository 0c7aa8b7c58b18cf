#include "testserver/TestServer.h"

#include "Common/Numbers.h"

#include <Poco/Base64Encoder.h>
#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/String.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testserver {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kIoBufferBytes = 64 * 1024;
const Poco::Timespan kPollInterval(0, 100 * 1000);

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return Poco::icompare(a, b) == 0;
}

std::string Decode(const std::string& text)
{
    std::string out;
    try {
        Poco::URI::decode(text, out);
    } catch (const Poco::Exception&) {
        return text;
    }
    return out;
}

std::string Encode(const std::string& text)
{
    std::string out;
    Poco::URI::encode(text, "/?#&=+;", out);
    return out;
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// A file or folder name taken from a URL: no separators, no "." or "..".
bool IsSafeName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string BasicCredentials(const std::string& user, const std::string& password)
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << user << ':' << password;
    encoder.close();
    return "Basic " + out.str();
}

void SetHeader(std::vector<std::pair<std::string, std::string>>& headers, const std::string& name,
               const std::string& value)
{
    for (auto& header : headers) {
        if (EqualsNoCase(header.first, name)) {
            header.second = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

void RemoveHeader(std::vector<std::pair<std::string, std::string>>& headers, const std::string& name)
{
    headers.erase(
        std::remove_if(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); }),
        headers.end());
}

std::string ReasonFor(int status)
{
    return Poco::Net::HTTPResponse::getReasonForStatus(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
}

struct Resource {
    int status = 200;
    std::string contentType;
    bool fromFile = false;
    std::shared_ptr<const std::string> body;
    std::string filePath;
};

struct FaultEntry {
    Fault fault;
    int remaining = TestServer::kAlways;
};

// Where an answer's body comes from: a text in memory or a file, from an offset.
struct BodySource {
    std::shared_ptr<const std::string> memory;
    std::string filePath;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

struct Plan {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    BodySource body;
    bool close = false;
};

} // namespace

struct TestServer::Impl {
    struct Connection {
        std::uint64_t id = 0;
        Poco::Net::StreamSocket socket;
        std::thread thread;
        bool closed = false;           // guarded by Impl::mutex
        std::atomic<bool> done{false}; // the thread has finished its work
    };

    struct Md5Entry {
        std::uintmax_t size = 0;
        fs::file_time_type time;
        std::string md5;
    };

    mutable std::mutex mutex;
    mutable std::condition_variable changed; // stop, new requests
    std::uint16_t port = 0;
    bool running = false;
    std::atomic<bool> stopping{false};
    Poco::Net::ServerSocket listener;
    std::thread acceptor;
    std::list<std::shared_ptr<Connection>> connections;
    std::uint64_t connectionCount = 0;

    std::map<std::string, std::shared_ptr<const Resource>> content;
    std::map<std::string, std::deque<FaultEntry>> faults;
    std::vector<RecordedRequest> log;
    std::string releaseFolder;
    std::map<std::string, Md5Entry> md5Cache;
    std::function<void(const RecordedRequest&)> observer;

    // --- threads -------------------------------------------------------------

    void AcceptLoop()
    {
        while (!stopping.load()) {
            bool ready = false;
            try {
                ready = listener.poll(Poco::Timespan(0, 200 * 1000), Poco::Net::Socket::SELECT_READ);
            } catch (const Poco::Exception&) {
                ready = false;
            }
            if (!ready)
                continue;
            Poco::Net::StreamSocket socket;
            try {
                socket = listener.acceptConnection();
            } catch (const Poco::Exception&) {
                continue;
            }
            std::vector<std::shared_ptr<Connection>> finished;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping.load()) {
                    socket.close();
                    break;
                }
                for (auto it = connections.begin(); it != connections.end();) {
                    if ((*it)->done.load()) {
                        finished.push_back(*it);
                        it = connections.erase(it);
                    } else {
                        ++it;
                    }
                }
                auto connection = std::make_shared<Connection>();
                connection->id = ++connectionCount;
                connection->socket = socket;
                connections.push_back(connection);
                connection->thread = std::thread([this, connection] {
                    Serve(*connection);
                    CloseConnection(*connection, false);
                    connection->done.store(true);
                });
            }
            for (auto& connection : finished)
                connection->thread.join();
        }
    }

    void CloseConnection(Connection& connection, bool reset)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (connection.closed)
            return;
        connection.closed = true;
        try {
            if (reset)
                connection.socket.setLinger(true, 0);
            connection.socket.close();
        } catch (const Poco::Exception&) {
        }
    }

    // Waits for `duration` (negative: until Stop). False when the server is stopping.
    bool Wait(std::chrono::milliseconds duration)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (duration.count() < 0) {
            changed.wait(lock, [this] { return stopping.load(); });
            return false;
        }
        return !changed.wait_for(lock, duration, [this] { return stopping.load(); });
    }

    // --- socket I/O ----------------------------------------------------------

    // Reads more bytes into `in`; false on end of stream, error or Stop.
    bool ReadMore(Connection& connection, std::string& in)
    {
        char buffer[16 * 1024];
        while (!stopping.load()) {
            try {
                if (!connection.socket.poll(kPollInterval, Poco::Net::Socket::SELECT_READ))
                    continue;
                int n = connection.socket.receiveBytes(buffer, sizeof buffer);
                if (n <= 0)
                    return false;
                in.append(buffer, static_cast<std::size_t>(n));
                return true;
            } catch (const Poco::Exception&) {
                return false;
            }
        }
        return false;
    }

    bool SendAll(Connection& connection, const char* data, std::size_t size)
    {
        while (size > 0) {
            if (stopping.load())
                return false;
            int n = 0;
            try {
                n = connection.socket.sendBytes(data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)),
                                                kSendFlags);
            } catch (const Poco::Exception&) {
                return false;
            }
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool SendAll(Connection& connection, const std::string& text)
    {
        return SendAll(connection, text.data(), text.size());
    }

    // --- one connection ------------------------------------------------------

    void Serve(Connection& connection)
    {
        std::string in;
        std::size_t requestNumber = 0;
        while (!stopping.load()) {
            auto end = in.find("\r\n\r\n");
            while (end == std::string::npos) {
                if (in.size() > kMaxHeaderBytes) {
                    SendSimple(connection, 431, "header too large\n");
                    return;
                }
                if (!ReadMore(connection, in))
                    return;
                end = in.find("\r\n\r\n");
            }
            std::string headerText = in.substr(0, end + 4);
            in.erase(0, end + 4);

            Poco::Net::HTTPRequest request;
            try {
                std::istringstream stream(headerText);
                request.read(stream);
            } catch (const Poco::Exception&) {
                SendSimple(connection, 400, "bad request\n");
                return;
            }
            if (request.getChunkedTransferEncoding()) {
                SendSimple(connection, 411, "chunked requests are not accepted\n");
                return;
            }
            if (request.hasContentLength()) {
                std::int64_t length = request.getContentLength64();
                if (length < 0 || length > 16 * 1024 * 1024) {
                    SendSimple(connection, 413, "request body too large\n");
                    return;
                }
                while (static_cast<std::int64_t>(in.size()) < length) {
                    if (!ReadMore(connection, in))
                        return;
                }
                in.erase(0, static_cast<std::size_t>(length));
            }

            RecordedRequest record = Record(request, connection.id, ++requestNumber);
            bool keepAlive = request.getKeepAlive();
            if (!Answer(connection, request, record))
                return;
            if (!keepAlive)
                return;
        }
    }

    RecordedRequest Record(const Poco::Net::HTTPRequest& request, std::uint64_t connectionId, std::size_t number)
    {
        RecordedRequest record;
        record.method = request.getMethod();
        record.uri = request.getURI();
        record.path = record.uri.substr(0, record.uri.find('?'));
        record.version = request.getVersion();
        record.hasRange = request.has("Range");
        if (record.hasRange)
            record.range = request.get("Range");
        record.hasAuthorization = request.has("Authorization");
        if (record.hasAuthorization)
            record.authorization = request.get("Authorization");
        record.host = request.get("Host", "");
        record.connectionId = connectionId;
        record.requestOnConnection = number;
        for (const auto& header : request)
            record.headers.emplace_back(header.first, header.second);
        record.received = std::chrono::steady_clock::now();
        std::function<void(const RecordedRequest&)> notify;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(record);
            notify = observer;
        }
        changed.notify_all();
        if (notify)
            notify(record);
        return record;
    }

    void SendSimple(Connection& connection, int status, const std::string& body)
    {
        std::ostringstream out;
        out << "HTTP/1.1 " << status << ' ' << ReasonFor(status) << "\r\n"
            << "Content-Type: text/plain\r\nContent-Length: " << body.size() << "\r\nConnection: close\r\n\r\n"
            << body;
        SendAll(connection, out.str());
    }

    // --- choosing the answer -------------------------------------------------

    bool TakeFault(const std::string& path, const std::string& decoded, Fault& out)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const std::string* key : {&path, &decoded}) {
            auto it = faults.find(*key);
            if (it != faults.end() && !it->second.empty())
                return Consume(it, out);
        }
        auto any = faults.find("*");
        if (any != faults.end() && !any->second.empty())
            return Consume(any, out);
        return false;
    }

    bool Consume(std::map<std::string, std::deque<FaultEntry>>::iterator it, Fault& out)
    {
        FaultEntry& entry = it->second.front();
        out = entry.fault;
        if (entry.remaining > 0 && --entry.remaining == 0) {
            it->second.pop_front();
            if (it->second.empty())
                faults.erase(it);
        }
        return true;
    }

    std::shared_ptr<const Resource> FindContent(const std::string& path, const std::string& decoded)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = content.find(path);
        if (it == content.end())
            it = content.find(decoded);
        return it == content.end() ? nullptr : it->second;
    }

    std::string CachedMd5(const fs::path& file, std::uintmax_t size, fs::file_time_type time)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto it = md5Cache.find(file.string());
            if (it != md5Cache.end() && it->second.size == size && it->second.time == time)
                return it->second.md5;
        }
        std::string md5 = Md5HexOfFile(file.string());
        std::lock_guard<std::mutex> lock(mutex);
        md5Cache[file.string()] = Md5Entry{size, time, md5};
        return md5;
    }

    std::string CurrentBaseUrl() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return "http://127.0.0.1:" + std::to_string(port);
    }

    std::string CurrentReleaseFolder() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return releaseFolder;
    }

    // The installer file of a SKU folder (empty when there is none).
    static std::string InstallerName(const fs::path& folder, const Poco::JSON::Object::Ptr& extra)
    {
        if (extra && extra->has("file"))
            return extra->getValue<std::string>("file");
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file() && entry.path().filename() != "release.json")
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names.empty() ? std::string() : names.front();
    }

    // Answer of the resources web API from the release folder; false when no folder is set.
    bool ApiAnswer(const std::vector<std::string>& parts, Plan& plan)
    {
        std::string folder = CurrentReleaseFolder();
        if (folder.empty())
            return false;
        const std::string sku = Decode(parts[4]);
        plan.status = 200;
        SetHeader(plan.headers, "Content-Type", "application/json");
        std::string json;
        try {
            fs::path skuFolder = fs::path(folder) / sku;
            if (!IsSafeName(sku) || !fs::is_directory(skuFolder)) {
                json = "{\"total\":0,\"resources\":[]}";
            } else {
                Poco::JSON::Object::Ptr extra;
                fs::path releaseJson = skuFolder / "release.json";
                if (fs::exists(releaseJson)) {
                    std::ifstream file(releaseJson, std::ios::binary);
                    std::stringstream text;
                    text << file.rdbuf();
                    Poco::JSON::Parser parser;
                    extra = parser.parse(text.str()).extract<Poco::JSON::Object::Ptr>();
                }
                std::string installer = InstallerName(skuFolder, extra);
                Poco::JSON::Object resource(Poco::JSON_PRESERVE_KEY_ORDER);
                resource.set("product_sku", sku);
                resource.set("name", sku);
                resource.set("version", "1.0.0");
                if (IsSafeName(installer) && fs::is_regular_file(skuFolder / installer)) {
                    fs::path file = skuFolder / installer;
                    auto size = fs::file_size(file);
                    resource.set("permalink", CurrentBaseUrl() + "/releases/" + Encode(sku) + "/" + Encode(installer));
                    resource.set("size", static_cast<Poco::UInt64>(size));
                    resource.set("checksum", CachedMd5(file, size, fs::last_write_time(file)));
                }
                if (extra) {
                    for (const auto& member : *extra) {
                        if (member.first != "file")
                            resource.set(member.first, member.second);
                    }
                }
                Poco::JSON::Object answer(Poco::JSON_PRESERVE_KEY_ORDER);
                Poco::JSON::Array::Ptr list = new Poco::JSON::Array;
                list->add(resource);
                answer.set("total", 1);
                answer.set("resources", list);
                std::ostringstream out;
                answer.stringify(out);
                json = out.str();
            }
        } catch (const Poco::Exception&) {
            plan.status = 500;
            json = "{\"error\":\"bad release.json\"}";
        } catch (const std::exception&) {
            plan.status = 500;
            json = "{\"error\":\"bad release folder\"}";
        }
        plan.body.memory = std::make_shared<const std::string>(json);
        plan.body.length = static_cast<std::int64_t>(json.size());
        return true;
    }

    // A release file as content; null when there is none.
    std::shared_ptr<const Resource> ReleaseFile(const std::vector<std::string>& parts)
    {
        std::string folder = CurrentReleaseFolder();
        if (folder.empty())
            return nullptr;
        std::string sku = Decode(parts[2]);
        std::string name = Decode(parts[3]);
        if (!IsSafeName(sku) || !IsSafeName(name))
            return nullptr;
        fs::path file = fs::path(folder) / sku / name;
        std::error_code error;
        if (!fs::is_regular_file(file, error))
            return nullptr;
        auto resource = std::make_shared<Resource>();
        resource->contentType = "application/octet-stream";
        resource->fromFile = true;
        resource->filePath = file.string();
        return resource;
    }

    // Sets the body and the range headers of a 200 resource.
    void RangedPlan(const Resource& resource, const RecordedRequest& request, const Fault& fault, Plan& plan)
    {
        std::int64_t size = 0;
        if (resource.fromFile) {
            std::error_code error;
            auto fileSize = fs::file_size(resource.filePath, error);
            if (error) {
                plan.status = 404;
                SetHeader(plan.headers, "Content-Type", "text/plain");
                plan.body.memory = std::make_shared<const std::string>("not found\n");
                plan.body.length = static_cast<std::int64_t>(plan.body.memory->size());
                return;
            }
            size = static_cast<std::int64_t>(fileSize);
            plan.body.filePath = resource.filePath;
        } else {
            plan.body.memory = resource.body;
            size = static_cast<std::int64_t>(resource.body->size());
        }
        plan.status = 200;
        plan.body.offset = 0;
        plan.body.length = size;
        SetHeader(plan.headers, "Content-Type", resource.contentType);
        SetHeader(plan.headers, "Accept-Ranges", "bytes");
        if (!request.hasRange || fault.ignoreRange)
            return;

        // bytes=N-, bytes=N-M, bytes=-S; anything else is ignored.
        std::string spec = Poco::trim(request.range);
        if (spec.compare(0, 6, "bytes=") != 0)
            return;
        spec = Poco::trim(spec.substr(6));
        if (spec.find(',') != std::string::npos)
            return;
        auto dash = spec.find('-');
        if (dash == std::string::npos)
            return;
        std::string first = Poco::trim(spec.substr(0, dash));
        std::string last = Poco::trim(spec.substr(dash + 1));
        std::int64_t begin = 0;
        std::int64_t end = 0; // inclusive
        if (first.empty()) {
            std::int64_t suffix = 0;
            if (!ParseDigits(last, suffix))
                return;
            if (suffix == 0 || size == 0) {
                Unsatisfiable(size, plan);
                return;
            }
            begin = std::max<std::int64_t>(0, size - suffix);
            end = size - 1;
        } else {
            if (!ParseDigits(first, begin))
                return;
            end = size - 1;
            if (!last.empty() && !ParseDigits(last, end))
                return;
            if (!last.empty() && end < begin)
                return;
            if (begin >= size) {
                Unsatisfiable(size, plan);
                return;
            }
            end = std::min(end, size - 1);
        }
        plan.status = 206;
        plan.body.offset = begin;
        plan.body.length = end - begin + 1;
        SetHeader(plan.headers, "Content-Range",
                  "bytes " + std::to_string(begin) + "-" + std::to_string(end) + "/" + std::to_string(size));
    }

    static void Unsatisfiable(std::int64_t size, Plan& plan)
    {
        plan.status = 416;
        plan.body = BodySource{};
        SetHeader(plan.headers, "Content-Range", "bytes */" + std::to_string(size));
    }

    static void StatusPlan(int status, const std::string& body, const std::string& contentType, Plan& plan)
    {
        plan.status = status;
        SetHeader(plan.headers, "Content-Type", contentType);
        plan.body.memory = std::make_shared<const std::string>(body);
        plan.body.length = static_cast<std::int64_t>(body.size());
    }

    void BuildPlan(const RecordedRequest& request, bool hasFault, const Fault& fault, Plan& plan)
    {
        const std::string decoded = Decode(request.path);
        if (hasFault && fault.status != 0) {
            StatusPlan(fault.status, fault.body, fault.contentType, plan);
            if (!fault.location.empty())
                SetHeader(plan.headers, "Location", fault.location);
            return;
        }
        auto resource = FindContent(request.path, decoded);
        if (!resource) {
            auto parts = SplitPath(request.path);
            if (parts.size() == 7 && parts[0].empty() && parts[1] == "api" && parts[2] == "resources" &&
                parts[6] == "latest" && ApiAnswer(parts, plan)) {
                return;
            }
            if (parts.size() == 4 && parts[0].empty() && parts[1] == "releases")
                resource = ReleaseFile(parts);
        }
        if (!resource) {
            StatusPlan(404, "not found\n", "text/plain", plan);
            return;
        }
        if (resource->status == 200) {
            RangedPlan(*resource, request, fault, plan);
        } else {
            StatusPlan(resource->status, *resource->body, resource->contentType, plan);
        }
    }

    // --- sending the answer --------------------------------------------------

    // Applies a cut; false when the connection is to end (it has been closed or reset).
    bool DoCut(Connection& connection, const Fault& fault)
    {
        switch (fault.cut) {
        case Fault::Cut::None:
            return true;
        case Fault::Cut::Stall:
            return Wait(fault.stallFor);
        case Fault::Cut::Reset:
            CloseConnection(connection, true);
            return false;
        case Fault::Cut::Close:
            CloseConnection(connection, false);
            return false;
        }
        return false;
    }

    // Returns false when the connection must not be used any more.
    bool Answer(Connection& connection, const Poco::Net::HTTPRequest& request, const RecordedRequest& record)
    {
        Fault fault;
        bool hasFault = TakeFault(record.path, Decode(record.path), fault);

        if (hasFault && fault.delayBeforeHeaders.count() != 0 && !Wait(fault.delayBeforeHeaders))
            return false;

        Plan plan;
        bool authorized = true;
        if (hasFault && fault.requireBasic)
            authorized = record.hasAuthorization &&
                         Poco::trim(record.authorization) == BasicCredentials(fault.user, fault.password);
        if (!authorized) {
            StatusPlan(401, "authorization required\n", "text/plain", plan);
            SetHeader(plan.headers, "WWW-Authenticate", "Basic realm=\"testserver\"");
            fault = Fault{};
        } else if (hasFault && !fault.rawResponse.empty()) {
            if (fault.cutBeforeHeaders && !DoCut(connection, fault))
                return false;
            return SendAll(connection, fault.rawResponse) && fault.rawKeepsConnection;
        } else {
            BuildPlan(record, hasFault, fault, plan);
        }

        const bool head = request.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD;
        if (plan.status == 416 || plan.status == 206 || !fault.contentRange.empty()) {
            if (!fault.contentRange.empty())
                SetHeader(plan.headers, "Content-Range", fault.contentRange);
            if (fault.omitContentRange)
                RemoveHeader(plan.headers, "Content-Range");
        }
        bool close = !request.getKeepAlive() || fault.closeAfterResponse;
        if (fault.chunked) {
            SetHeader(plan.headers, "Transfer-Encoding", "chunked");
        } else if (fault.omitContentLength) {
            close = true;
        } else if (fault.announcedLength >= 0) {
            SetHeader(plan.headers, "Content-Length", std::to_string(fault.announcedLength));
            close = true;
        } else {
            SetHeader(plan.headers, "Content-Length", std::to_string(plan.body.length));
        }
        SetHeader(plan.headers, "Connection", close ? "close" : "keep-alive");
        SetHeader(plan.headers, "Server", "quendal-test-server");
        for (const auto& header : fault.headers)
            SetHeader(plan.headers, header.first, header.second);

        if (fault.cutBeforeHeaders && !DoCut(connection, fault))
            return false;

        std::ostringstream head_;
        head_ << "HTTP/1.1 " << plan.status << ' ' << ReasonFor(plan.status) << "\r\n";
        for (const auto& header : plan.headers)
            head_ << header.first << ": " << header.second << "\r\n";
        head_ << "\r\n";
        if (!SendAll(connection, head_.str()))
            return false;
        if (head)
            return !close;

        if (!SendBody(connection, plan.body, fault))
            return false;
        return !close;
    }

    bool SendBody(Connection& connection, const BodySource& body, const Fault& fault)
    {
        std::ifstream file;
        if (!body.filePath.empty()) {
            file.open(body.filePath, std::ios::binary);
            if (!file)
                return false;
            file.seekg(body.offset);
        }
        const bool cutting = fault.cut != Fault::Cut::None && !fault.cutBeforeHeaders;
        const std::int64_t cutAt = std::min(std::max<std::int64_t>(fault.cutAfterBytes, 0), body.length);
        bool cutDone = false;
        std::vector<char> buffer(kIoBufferBytes);
        std::int64_t sent = 0;
        bool corrupted = false;
        for (;;) {
            if (cutting && !cutDone && sent == cutAt) {
                cutDone = true;
                if (!DoCut(connection, fault))
                    return false;
            }
            if (sent >= body.length)
                break;
            std::int64_t piece = std::min<std::int64_t>(body.length - sent, static_cast<std::int64_t>(buffer.size()));
            if (fault.chunked && fault.chunkSize > 0)
                piece = std::min<std::int64_t>(piece, static_cast<std::int64_t>(fault.chunkSize));
            if (fault.trickleBytes > 0)
                piece = std::min<std::int64_t>(piece, static_cast<std::int64_t>(fault.trickleBytes));
            if (cutting && !cutDone)
                piece = std::min(piece, cutAt - sent);

            if (body.memory) {
                std::copy_n(body.memory->data() + body.offset + sent, piece, buffer.data());
            } else {
                file.read(buffer.data(), piece);
                if (file.gcount() != piece)
                    return false;
            }
            if (fault.corruptBody && !corrupted) {
                buffer[0] = static_cast<char>(~static_cast<unsigned char>(buffer[0]));
                corrupted = true;
            }
            if (fault.chunked) {
                std::ostringstream size;
                size << std::hex << piece << "\r\n";
                if (!SendAll(connection, size.str()))
                    return false;
            }
            if (!SendAll(connection, buffer.data(), static_cast<std::size_t>(piece)))
                return false;
            if (fault.chunked && !SendAll(connection, "\r\n", 2))
                return false;
            sent += piece;
            if (fault.trickleBytes > 0 && sent < body.length && !Wait(fault.trickleInterval))
                return false;
        }
        if (fault.chunked && !SendAll(connection, "0\r\n\r\n", 5))
            return false;
        return true;
    }
};

// --- RecordedRequest ----------------------------------------------------------

std::string RecordedRequest::Header(const std::string& name) const
{
    for (const auto& header : headers) {
        if (EqualsNoCase(header.first, name))
            return header.second;
    }
    return std::string();
}

// --- Fault builders -------------------------------------------------------------

Fault Fault::StallAfter(std::int64_t bytes, std::chrono::milliseconds stallFor)
{
    Fault f;
    f.cut = Cut::Stall;
    f.cutAfterBytes = bytes;
    f.stallFor = stallFor;
    return f;
}

Fault Fault::ResetAfter(std::int64_t bytes)
{
    Fault f;
    f.cut = Cut::Reset;
    f.cutAfterBytes = bytes;
    return f;
}

Fault Fault::CloseAfter(std::int64_t bytes)
{
    Fault f;
    f.cut = Cut::Close;
    f.cutAfterBytes = bytes;
    return f;
}

Fault Fault::IgnoreRange()
{
    Fault f;
    f.ignoreRange = true;
    return f;
}

Fault Fault::WrongLength(std::int64_t announcedLength)
{
    Fault f;
    f.announcedLength = announcedLength;
    return f;
}

Fault Fault::Chunked(std::size_t chunkSize)
{
    Fault f;
    f.chunked = true;
    f.chunkSize = chunkSize;
    return f;
}

Fault Fault::NoContentLength()
{
    Fault f;
    f.omitContentLength = true;
    return f;
}

Fault Fault::Redirect(int status, std::string location)
{
    Fault f;
    f.status = status;
    f.location = std::move(location);
    f.body = "moved\n";
    return f;
}

Fault Fault::RequireBasic(std::string user, std::string password)
{
    Fault f;
    f.requireBasic = true;
    f.user = std::move(user);
    f.password = std::move(password);
    return f;
}

Fault Fault::Status(int status, std::string body)
{
    Fault f;
    f.status = status;
    f.body = std::move(body);
    return f;
}

Fault Fault::Trickle(std::size_t bytes, std::chrono::milliseconds interval)
{
    Fault f;
    f.trickleBytes = bytes;
    f.trickleInterval = interval;
    return f;
}

Fault Fault::CorruptBody()
{
    Fault f;
    f.corruptBody = true;
    return f;
}

Fault Fault::Without416ContentRange()
{
    Fault f;
    f.omitContentRange = true;
    return f;
}

Fault Fault::Raw(std::string response)
{
    Fault f;
    f.rawResponse = std::move(response);
    return f;
}

// --- TestServer -------------------------------------------------------------------

TestServer::TestServer(std::uint16_t port)
    : impl_(std::make_unique<Impl>())
{
    impl_->port = port;
}

TestServer::~TestServer()
{
    Stop();
}

void TestServer::Start()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->running)
        return;
    try {
        Poco::Net::ServerSocket listener;
        listener.bind(Poco::Net::SocketAddress("127.0.0.1", impl_->port), true, false);
        listener.listen(128);
        impl_->listener = listener;
        impl_->port = listener.address().port();
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("testserver: cannot listen on 127.0.0.1:" + std::to_string(impl_->port) + ": " +
                                 e.displayText());
    }
    impl_->stopping.store(false);
    impl_->running = true;
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

void TestServer::Stop()
{
    std::uint16_t port = 0;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->running || impl_->stopping.load())
            return;
        impl_->stopping.store(true);
        port = impl_->port;
    }
    impl_->changed.notify_all();
    // Wake the accept loop at once instead of at its next poll.
    try {
        Poco::Net::StreamSocket wake;
        wake.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(0, 200 * 1000));
        wake.close();
    } catch (const Poco::Exception&) {
    }
    impl_->acceptor.join();

    std::list<std::shared_ptr<Impl::Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (auto& connection : impl_->connections) {
            if (connection->closed)
                continue;
            try {
                connection->socket.shutdown();
            } catch (const Poco::Exception&) {
            }
        }
        connections.swap(impl_->connections);
    }
    impl_->changed.notify_all();
    for (auto& connection : connections)
        connection->thread.join();

    std::lock_guard<std::mutex> lock(impl_->mutex);
    try {
        impl_->listener.close();
    } catch (const Poco::Exception&) {
    }
    impl_->running = false;
    impl_->stopping.store(false);
}

bool TestServer::IsRunning() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->running;
}

std::uint16_t TestServer::Port() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->port;
}

std::string TestServer::BaseUrl() const
{
    return impl_->CurrentBaseUrl();
}

std::string TestServer::Url(const std::string& path) const
{
    return BaseUrl() + path;
}

void TestServer::AddContent(const std::string& path, std::string body, std::string contentType)
{
    auto resource = std::make_shared<Resource>();
    resource->contentType = std::move(contentType);
    resource->body = std::make_shared<const std::string>(std::move(body));
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->content[path] = std::move(resource);
}

void TestServer::AddFile(const std::string& path, const std::string& filePath, std::string contentType)
{
    auto resource = std::make_shared<Resource>();
    resource->contentType = std::move(contentType);
    resource->fromFile = true;
    resource->filePath = filePath;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->content[path] = std::move(resource);
}

void TestServer::SetAnswer(const std::string& path, int status, std::string body, std::string contentType)
{
    auto resource = std::make_shared<Resource>();
    resource->status = status;
    resource->contentType = std::move(contentType);
    resource->body = std::make_shared<const std::string>(std::move(body));
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->content[path] = std::move(resource);
}

void TestServer::SetJsonAnswer(const std::string& path, int status, std::string json)
{
    SetAnswer(path, status, std::move(json), "application/json");
}

void TestServer::RemoveContent(const std::string& path)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->content.erase(path);
}

void TestServer::ClearContent()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->content.clear();
}

void TestServer::SetReleaseFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->releaseFolder = folder;
}

std::string TestServer::ReleaseFolder() const
{
    return impl_->CurrentReleaseFolder();
}

std::string TestServer::ApiPath(const std::string& type, const std::string& sku, const std::string& platform)
{
    return "/api/resources/" + type + "/" + sku + "/" + platform + "/latest";
}

void TestServer::AddFault(const std::string& path, const Fault& fault, int times)
{
    if (times == 0)
        return;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults[path].push_back(FaultEntry{fault, times < 0 ? kAlways : times});
}

void TestServer::SetFault(const std::string& path, const Fault& fault, int times)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.erase(path);
    if (times != 0)
        impl_->faults[path].push_back(FaultEntry{fault, times < 0 ? kAlways : times});
}

void TestServer::ClearFaults(const std::string& path)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.erase(path);
}

void TestServer::ClearFaults()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<RecordedRequest> TestServer::Requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

std::vector<RecordedRequest> TestServer::RequestsFor(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& request : impl_->log) {
        if (request.path == path)
            out.push_back(request);
    }
    return out;
}

std::size_t TestServer::RequestCount() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log.size();
}

void TestServer::ClearRequests()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->log.clear();
}

bool TestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->log.size() >= count; });
}

std::uint64_t TestServer::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->connectionCount;
}

void TestServer::SetRequestObserver(std::function<void(const RecordedRequest&)> observer)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->observer = std::move(observer);
}

// --- MD5 ------------------------------------------------------------------------

std::string Md5Hex(const std::string& data)
{
    Poco::MD5Engine engine;
    engine.update(data);
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string Md5HexOfFile(const std::string& filePath)
{
    std::ifstream file(filePath, std::ios::binary);
    if (!file)
        return std::string();
    Poco::MD5Engine engine;
    std::vector<char> buffer(kIoBufferBytes);
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (file.gcount() > 0)
            engine.update(buffer.data(), static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad())
        return std::string();
    return Poco::DigestEngine::digestToHex(engine.digest());
}

} // namespace testserver
