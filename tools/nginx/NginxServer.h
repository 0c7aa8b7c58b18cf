#pragma once
// A private nginx instance on a free loopback port, serving one folder as
// static files: the web server a product's maker would run.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {
class ChildProcess;
}
} // namespace Quendal

namespace testserver {

class NginxServer {
public:
    // True when the nginx program is installed.
    static bool Available();

    // Starts nginx serving `root`; its configuration, logs and temporary
    // files go into a folder of its own. Throws std::runtime_error when it
    // cannot be started or does not answer within five seconds.
    explicit NginxServer(const std::string& root);
    // Stops nginx and removes its folder (not `root`).
    ~NginxServer();

    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    uint16_t Port() const { return port; }
    // "127.0.0.1:PORT"
    std::string HostPort() const;
    // "http://127.0.0.1:PORT" + path
    std::string Url(const std::string& path) const;

    // One entry per answered request: "GET /path HTTP/1.1 206 bytes=100-"
    // (the last field is "-" without a Range header).
    std::vector<std::string> AccessLog() const;

private:
    void Start();
    void Stop();

    std::string root;
    std::string folder;
    uint16_t port = 0;
    std::unique_ptr<Quendal::Testing::ChildProcess> process;
};

} // namespace testserver
