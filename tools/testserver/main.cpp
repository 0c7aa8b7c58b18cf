// quendal-test-server: the test HTTP server as a program, for demos and
// application tests. Runs until SIGINT or SIGTERM.
#include "testserver/TestServer.h"

#include "Common/Numbers.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include <pthread.h>

namespace {

const char* const kUsage =
    "usage: quendal-test-server [--port N] [--releases DIR] [--throttle BYTES_PER_SECOND] [--verbose]\n"
    "\n"
    "Serves HTTP/1.1 on 127.0.0.1 until SIGINT or SIGTERM. The first line on\n"
    "standard output is \"listening on 127.0.0.1:PORT\".\n"
    "\n"
    "  --port N        port to listen on; 0 (the default) picks a free one\n"
    "  --releases DIR  release folder answered by the resources web API\n"
    "  --throttle BYTES_PER_SECOND\n"
    "                  send every answer's body at about this rate: up to ten\n"
    "                  pieces a second with a pause after each (a slow download)\n"
    "  --verbose       print one line per request\n"
    "  --help          this text\n"
    "\n"
    "Release folder layout:\n"
    "  DIR/<SKU>/<installer file>   served at /releases/<SKU>/<file>\n"
    "  DIR/<SKU>/release.json       optional: extra resource members, e.g.\n"
    "      {\"name\": \"Product\", \"version\": \"2.1.0\",\n"
    "       \"platform_min_version\": \"6.1.0\", \"platform_max_version\": \"10.0.65535\",\n"
    "       \"links\": {\"product_page\": {\"href\": \"http://example/product\"}},\n"
    "       \"release_notes_html\": \"<p>notes</p>\", \"file\": \"setup.exe\"}\n"
    "  \"file\" names the installer when the folder holds several files.\n"
    "\n"
    "GET /api/resources/<type>/<sku>/<platform>/latest answers\n"
    "  {\"total\": 1, \"resources\": [{\"product_sku\", \"name\", \"version\",\n"
    "   \"permalink\", \"size\", \"checksum\" (MD5), ...members of release.json}]}\n"
    "and {\"total\": 0, \"resources\": []} for a SKU without a folder.\n"
    "Files are served with Range (206, 416 with Content-Range: bytes */N).\n";

// Pieces with a pause after each, together about `rate` bytes a second.
testserver::Fault Throttle(std::uint64_t rate)
{
    const std::uint64_t pieces = std::min<std::uint64_t>(rate, 10);
    return testserver::Fault::Trickle(static_cast<std::size_t>(rate / pieces + (rate % pieces != 0 ? 1 : 0)),
                                      std::chrono::milliseconds(1000 / pieces));
}

} // namespace

int main(int argc, char** argv)
{
    std::uint16_t port = 0;
    std::string releases;
    bool verbose = false;
    std::uint64_t throttle = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--port" && i + 1 < argc) {
            if (!ParseDigits(argv[++i], port)) {
                std::cerr << "quendal-test-server: bad port '" << argv[i] << "'\n" << kUsage;
                return 2;
            }
        } else if (arg == "--releases" && i + 1 < argc) {
            releases = argv[++i];
        } else if (arg == "--throttle" && i + 1 < argc) {
            if (!ParseDigits(argv[++i], throttle) || throttle == 0) {
                std::cerr << "quendal-test-server: bad rate '" << argv[i] << "'\n" << kUsage;
                return 2;
            }
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            std::cerr << "quendal-test-server: unknown argument '" << arg << "'\n" << kUsage;
            return 2;
        }
    }

    // Termination signals are taken by sigwait below; every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    testserver::TestServer server(port);
    server.SetReleaseFolder(releases);
    if (throttle > 0)
        server.SetFault("*", Throttle(throttle));
    std::mutex outputMutex;
    if (verbose) {
        server.SetRequestObserver([&outputMutex](const testserver::RecordedRequest& request) {
            std::lock_guard<std::mutex> lock(outputMutex);
            std::cout << "#" << request.connectionId << " " << request.method << " " << request.uri;
            if (request.hasRange)
                std::cout << " [Range: " << request.range << "]";
            std::cout << std::endl;
        });
    }
    try {
        server.Start();
    } catch (const std::exception& e) {
        std::cerr << "quendal-test-server: " << e.what() << "\n";
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(outputMutex);
        std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;
    }

    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    return 0;
}
