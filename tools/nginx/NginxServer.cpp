#include "NginxServer.h"

#include "testsupport/ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testserver {
namespace {

const char* const NginxProgram = "/usr/sbin/nginx";

// A port that is free now: bound to 0 and released again.
uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("nginx fixture: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!ok)
        throw std::runtime_error("nginx fixture: no free port");
    return ntohs(address.sin_port);
}

bool Answers(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

std::string Configuration(const std::string& folder, const std::string& root, uint16_t port)
{
    std::ostringstream text;
    // As root, nginx would hand its worker to "nobody", who may not read a
    // scratch folder; the worker keeps our user instead.
    if (::geteuid() == 0)
        text << "user root;\n";
    text << "worker_processes 1;\n"
         << "error_log " << folder << "/error.log;\n"
         << "pid " << folder << "/nginx.pid;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  log_format ranges '$request $status $http_range';\n"
         << "  access_log " << folder << "/access.log ranges;\n"
         << "  client_body_temp_path " << folder << "/body;\n"
         << "  proxy_temp_path " << folder << "/proxy;\n"
         << "  fastcgi_temp_path " << folder << "/fastcgi;\n"
         << "  uwsgi_temp_path " << folder << "/uwsgi;\n"
         << "  scgi_temp_path " << folder << "/scgi;\n"
         << "  default_type application/octet-stream;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << ";\n"
         << "    root " << root << ";\n"
         << "    location /api/ { default_type application/json; }\n"
         << "  }\n"
         << "}\n";
    return text.str();
}

} // namespace

bool NginxServer::Available()
{
    return ::access(NginxProgram, X_OK) == 0;
}

NginxServer::NginxServer(const std::string& rootFolder)
    : root(rootFolder)
{
    char pattern[] = "/tmp/quendal-nginx-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("nginx fixture: no scratch folder");
    folder = pattern;
    try {
        Start();
    } catch (...) {
        Stop();
        throw;
    }
}

NginxServer::~NginxServer()
{
    Stop();
}

void NginxServer::Start()
{
    // Another process may take the free port before nginx binds it: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = FreePort();
        const std::string configPath = folder + "/nginx.conf";
        {
            std::ofstream config(configPath);
            config << Configuration(folder, root, port);
            if (!config.flush())
                throw std::runtime_error("nginx fixture: cannot write " + configPath);
        }
        Quendal::Testing::ChildOptions options;
        options.program = NginxProgram;
        options.args = {"-p", folder, "-c", configPath, "-e", folder + "/error.log", "-g", "daemon off;"};
        options.stdoutTo = Quendal::Testing::ChildOutput::Inherited;
        options.stderrTo = Quendal::Testing::ChildOutput::Inherited;
        try {
            process = std::make_unique<Quendal::Testing::ChildProcess>(options);
        } catch (const std::runtime_error&) {
            throw std::runtime_error("nginx fixture: cannot start " + std::string(NginxProgram));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!process->Running()) {
                process.reset();
                break; // exited: most likely the port was taken
            }
            if (Answers(port))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (process) {
            Stop();
            throw std::runtime_error("nginx fixture: nginx does not answer on port " + std::to_string(port));
        }
    }
    throw std::runtime_error("nginx fixture: nginx did not start; see " + folder + "/error.log");
}

void NginxServer::Stop()
{
    if (process) {
        process->Send(SIGTERM);
        process->Wait(std::chrono::seconds(10)); // killed after that
        process.reset();
    }
    if (!folder.empty()) {
        boost::system::error_code ignored; // a folder left in /tmp is harmless
        boost::filesystem::remove_all(folder, ignored);
        folder.clear();
    }
}

std::string NginxServer::HostPort() const
{
    return "127.0.0.1:" + std::to_string(port);
}

std::string NginxServer::Url(const std::string& path) const
{
    return "http://" + HostPort() + path;
}

std::vector<std::string> NginxServer::AccessLog() const
{
    std::vector<std::string> lines;
    std::ifstream in(folder + "/access.log");
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

} // namespace testserver
