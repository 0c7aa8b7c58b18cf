// Download and verify a large installer from the test server on loopback (a
// process of its own):
// DownloaderBackgrounder (Start to Completed) against curl -o plus md5sum of
// the same file from the same server, in the same run.
//
//   download_bench [--size-mib=N] [benchmark flags]   (default 1024 MiB)

#include "bench/BenchFiles.h"
#include "Common/Helpers.h"
#include "Common/Numbers.h"
#include "UpdateManager/DownloaderBackgrounder.h"

#include "testserver/TestServer.h"

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace fs = boost::filesystem;
using Quendal::UpdateManager::DownloaderBackgrounder;
using Quendal::UpdateManager::DownloadState;

namespace {

struct Setup {
    fs::path folder;
    std::string source;
    std::string url;
    std::string md5;
    int64_t size = 0;
    pid_t serverProcess = -1;
    int serverStop = -1; // closing it ends the server process
    std::vector<double> jobSeconds;
    std::vector<double> jobChecksumSeconds; // GetFileChecksum of the job's file, timed apart
    std::vector<double> curlSeconds;
    std::vector<double> curlOnlySeconds;
    std::vector<double> md5sumSeconds;
};

Setup* setup = nullptr;
constexpr int Rounds = 7;

void WriteSource(const std::string& file, int64_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    Bench::WriteRandomBytes(out, size);
    if (!out)
        throw std::runtime_error("cannot write " + file);
}

// Runs the test server in a child process of its own, so that the server's
// threads share nothing with the download under test (nor with curl). Called
// before this process starts any thread. Returns the port, 0 on failure.
uint16_t StartServerProcess(Setup& data, const std::string& path)
{
    int portPipe[2];
    int stopPipe[2];
    if (pipe(portPipe) != 0 || pipe(stopPipe) != 0)
        return 0;
    const pid_t child = fork();
    if (child < 0)
        return 0;
    if (child == 0) {
        close(portPipe[0]);
        close(stopPipe[1]);
        uint16_t port = 0;
        {
            testserver::TestServer server;
            server.Start();
            server.AddFile(path, data.source);
            port = server.Port();
            if (write(portPipe[1], &port, sizeof port) != static_cast<ssize_t>(sizeof port))
                _exit(1);
            char byte = 0;
            while (read(stopPipe[0], &byte, 1) < 0 && errno == EINTR) {
            }
        }
        _exit(0);
    }
    close(portPipe[1]);
    close(stopPipe[0]);
    uint16_t port = 0;
    ssize_t got = 0;
    do {
        got = read(portPipe[0], &port, sizeof port);
    } while (got < 0 && errno == EINTR);
    close(portPipe[0]);
    data.serverProcess = child;
    data.serverStop = stopPipe[1];
    return got == static_cast<ssize_t>(sizeof port) ? port : 0;
}

void StopServerProcess(Setup& data)
{
    if (data.serverProcess <= 0)
        return;
    close(data.serverStop);
    int status = 0;
    while (waitpid(data.serverProcess, &status, 0) < 0 && errno == EINTR) {
    }
}

// No earlier output left, and no write-back of earlier runs going on.
void Settle(const std::string& target)
{
    fs::remove(target);
    sync();
}

void DownloaderBackgrounderJob(benchmark::State& state)
{
    const std::string target = (setup->folder / "job-setup.bin").string();
    DownloaderBackgrounder downloader("soft/BENCH");
    for (auto _ : state) {
        Settle(target);
        const auto start = std::chrono::steady_clock::now();
        downloader.Start(DownloaderBackgrounder::Data(setup->url, target, setup->md5, setup->size, 0));
        while (!downloader.IsFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const DownloaderBackgrounder::Outcome outcome = downloader.GetOutcome();
        if (outcome.state != DownloadState::Completed || outcome.checksum != setup->md5) {
            state.SkipWithError("the download did not complete with the right checksum");
            break;
        }
        state.SetIterationTime(seconds);
        setup->jobSeconds.push_back(seconds);

        // Where the time goes: the verification's MD5 step alone, on the same file.
        const auto hashStart = std::chrono::steady_clock::now();
        const std::string again = Quendal::GetFileChecksum(target);
        setup->jobChecksumSeconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - hashStart).count());
        if (again != setup->md5) {
            state.SkipWithError("GetFileChecksum gave another checksum");
            break;
        }
    }
    fs::remove(target);
    state.SetBytesProcessed(state.iterations() * setup->size);
}

void CurlPlusMd5sum(benchmark::State& state)
{
    const std::string target = (setup->folder / "curl-setup.bin").string();
    const std::string curl = "curl -s -S -o '" + target + "' '" + setup->url + "'";
    for (auto _ : state) {
        Settle(target);
        const auto start = std::chrono::steady_clock::now();
        const int code = std::system(curl.c_str());
        const auto downloaded = std::chrono::steady_clock::now();
        const std::string md5 = code == 0 ? Bench::Md5sumOf(target) : std::string();
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        setup->curlOnlySeconds.push_back(std::chrono::duration<double>(downloaded - start).count());
        setup->md5sumSeconds.push_back(std::chrono::duration<double>(end - downloaded).count());
        if (md5 != setup->md5) {
            state.SkipWithError("curl or md5sum failed");
            break;
        }
        state.SetIterationTime(seconds);
        setup->curlSeconds.push_back(seconds);
    }
    fs::remove(target);
    state.SetBytesProcessed(state.iterations() * setup->size);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Least(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

} // namespace

int main(int argc, char** argv)
{
    int64_t mib = 1024;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mib=", 11) == 0) {
            if (!ParseDigits(argv[i] + 11, mib) || mib < 1) {
                std::fprintf(stderr, "usage: %s [--size-mib=N] [benchmark flags]   (N at least 1)\n", argv[0]);
                return 1;
            }
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    Setup data;
    setup = &data;
    data.folder = fs::temp_directory_path() / fs::unique_path("download-bench-%%%%-%%%%");
    fs::create_directories(data.folder);
    data.source = (data.folder / "source.bin").string();
    data.size = mib * 1024 * 1024;
    std::cout << "Writing a " << mib << " MiB installer to " << data.source << std::endl;
    WriteSource(data.source, data.size);
    data.md5 = testserver::Md5HexOfFile(data.source); // also brings it into the page cache
    const std::string path = "/releases/BENCH/setup.bin";
    const uint16_t port = StartServerProcess(data, path);
    if (port == 0) {
        std::fprintf(stderr, "cannot start the test server process\n");
        return 1;
    }
    data.url = "http://127.0.0.1:" + std::to_string(port) + path;

    // Rounds of one run each, alternating, so that both see the same machine.
    for (int round = 1; round <= Rounds; ++round) {
        const std::string suffix = "/round:" + std::to_string(round);
        benchmark::RegisterBenchmark(("DownloaderBackgrounder_start_to_completed" + suffix).c_str(),
                                     DownloaderBackgrounderJob)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(("curl_o_plus_md5sum" + suffix).c_str(), CurlPlusMd5sum)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double job = Median(data.jobSeconds);
    const double curl = Median(data.curlSeconds);
    const double mibs = static_cast<double>(mib);
    std::printf("\nDownload and verify %lld MiB on loopback, %d runs each (median, best):\n",
                static_cast<long long>(mib), Rounds);
    std::printf("  DownloaderBackgrounder start to Completed: %7.3f s  %7.3f s  (%6.1f MiB/s)\n", job,
                Least(data.jobSeconds), job > 0 ? mibs / job : 0.0);
    std::printf("    its MD5 step alone (GetFileChecksum):   %7.3f s  %7.3f s\n", Median(data.jobChecksumSeconds),
                Least(data.jobChecksumSeconds));
    std::printf("  curl -o plus md5sum:                       %7.3f s  %7.3f s  (%6.1f MiB/s)\n", curl,
                Least(data.curlSeconds), curl > 0 ? mibs / curl : 0.0);
    std::printf("    curl -o alone:                          %7.3f s  %7.3f s\n", Median(data.curlOnlySeconds),
                Least(data.curlOnlySeconds));
    std::printf("    md5sum alone:                           %7.3f s  %7.3f s\n", Median(data.md5sumSeconds),
                Least(data.md5sumSeconds));
    if (job > 0 && curl > 0)
        std::printf("  ratio DownloaderBackgrounder / (curl + md5sum): %.3f (medians), %.3f (best)\n", job / curl,
                    Least(data.jobSeconds) / Least(data.curlSeconds));

    StopServerProcess(data);
    boost::system::error_code ignored;
    fs::remove_all(data.folder, ignored);
    return 0;
}
