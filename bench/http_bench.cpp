// Download throughput on loopback: HttpDownloadRequest against curl.
//
//   http_bench [--mib=N] [--rounds=R]
//
// Writes a scratch file of N MiB (default 1024) into a fresh folder under
// $TMPDIR or /tmp, serves it from the HTTP test server on 127.0.0.1 and
// fetches it R times (default 3) through HttpDownloadRequest into a file
// (8192-byte chunks, as the download job reads it) and R times with curl from
// the same server, alternating. Prints each round, the best and median
// throughput of both and their ratio. The folder is removed at the end.

#include "Common/Numbers.h"
#include "UpdateManager/HttpDownloadRequest.h"
#include "testserver/TestServer.h"

#include <boost/filesystem.hpp>

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Quendal::UpdateManager::HttpDownloadRequest;
using Quendal::UpdateManager::TransferStatus;

constexpr int64_t MiB = 1024 * 1024;

struct Options {
    int64_t mib = 1024;
    int rounds = 3;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool read = false;
        if (arg.rfind("--mib=", 0) == 0)
            read = ParseDigits(std::string_view(arg).substr(6), options.mib);
        else if (arg.rfind("--rounds=", 0) == 0)
            read = ParseDigits(std::string_view(arg).substr(9), options.rounds);
        if (!read)
            return false;
    }
    return options.mib > 0 && options.rounds > 0;
}

bool WriteScratchFile(const boost::filesystem::path& path, int64_t size)
{
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    std::vector<char> block(MiB);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 131 + i / 4093) & 0xff);
    for (int64_t written = 0; written < size && out; written += MiB) {
        block[0] = static_cast<char>(written / MiB); // no two blocks alike
        out.write(block.data(), static_cast<std::streamsize>(std::min<int64_t>(MiB, size - written)));
    }
    return static_cast<bool>(out);
}

// Seconds for one transfer, or a negative value when it failed.
double FetchWithRequest(HttpDownloadRequest& request, const std::string& url, const boost::filesystem::path& target,
                        int64_t size)
{
    const auto start = Clock::now();
    std::ofstream out(target.string(), std::ios::binary | std::ios::trunc);
    request.SetResumeOffset(0);
    request.Open(url);
    if (!request.IsAccepted())
        return -1.0;
    while (request.HasMoreData()) {
        if (request.ReadChunk(out) == 0)
            break;
    }
    out.close();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (request.GetStatus() != TransferStatus::Complete || !out ||
        static_cast<int64_t>(boost::filesystem::file_size(target)) != size)
        return -1.0;
    return seconds;
}

double FetchWithCurl(const std::string& url, const boost::filesystem::path& target, int64_t size)
{
    const std::string output = target.string();
    std::vector<std::string> args = {"curl", "--silent", "--show-error", "--fail", "--output", output, url};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0)
        return -1.0;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1.0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    boost::system::error_code error;
    const auto got = boost::filesystem::file_size(target, error);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || error || static_cast<int64_t>(got) != size)
        return -1.0;
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--mib=N] [--rounds=R]\n", argv[0]);
        return 2;
    }
    const int64_t size = options.mib * MiB;

    const boost::filesystem::path folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("http-bench-%%%%-%%%%");
    boost::filesystem::create_directories(folder);
    const boost::filesystem::path source = folder / "body.bin";
    const boost::filesystem::path target = folder / "download.bin";

    int result = 0;
    {
        std::printf("writing %lld MiB to %s\n", static_cast<long long>(options.mib), source.string().c_str());
        if (!WriteScratchFile(source, size)) {
            std::fprintf(stderr, "cannot write %s\n", source.string().c_str());
            boost::filesystem::remove_all(folder);
            return 1;
        }
        testserver::TestServer server;
        server.AddFile("/body.bin", source.string());
        server.Start();
        const std::string url = server.Url("/body.bin");

        HttpDownloadRequest request;
        std::vector<double> ours;
        std::vector<double> curl;
        for (int round = 1; round <= options.rounds; ++round) {
            const double a = FetchWithRequest(request, url, target, size);
            boost::filesystem::remove(target);
            const double b = FetchWithCurl(url, target, size);
            boost::filesystem::remove(target);
            if (a <= 0 || b <= 0) {
                std::fprintf(stderr, "round %d failed (HttpDownloadRequest %s, curl %s)\n", round,
                             a <= 0 ? "failed" : "ok", b <= 0 ? "failed" : "ok");
                result = 1;
                break;
            }
            ours.push_back(a);
            curl.push_back(b);
            std::printf("round %d: HttpDownloadRequest %8.1f MiB/s (%.3f s)   curl %8.1f MiB/s (%.3f s)\n", round,
                        options.mib / a, a, options.mib / b, b);
        }
        if (result == 0) {
            const double bestOurs = options.mib / *std::min_element(ours.begin(), ours.end());
            const double bestCurl = options.mib / *std::min_element(curl.begin(), curl.end());
            const double medianOurs = options.mib / Median(ours);
            const double medianCurl = options.mib / Median(curl);
            std::printf("best:   HttpDownloadRequest %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", bestOurs, bestCurl,
                        bestOurs / bestCurl);
            std::printf("median: HttpDownloadRequest %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", medianOurs,
                        medianCurl, medianOurs / medianCurl);
        }
    }
    boost::system::error_code error;
    boost::filesystem::remove_all(folder, error);
    return result;
}
