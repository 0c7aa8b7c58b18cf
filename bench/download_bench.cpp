// Download and verify a large installer from the test server on loopback:
// DownloaderBackgrounder (Start to Completed) against curl -o plus md5sum of
// the same file from the same server, in the same run.
//
//   download_bench [--size-mib=N] [benchmark flags]   (default 1024 MiB)

#include "UpdateManager/DownloaderBackgrounder.h"

#include "testserver/TestServer.h"

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
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
    testserver::TestServer server;
    std::vector<double> jobSeconds;
    std::vector<double> curlSeconds;
};

Setup* setup = nullptr;
constexpr int Rounds = 5;

void WriteSource(const std::string& file, int64_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(128 * 1024); // 1 MiB
    uint64_t x = 88172645463325252ull;
    for (int64_t written = 0; written < size;) {
        for (uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const int64_t bytes = std::min<int64_t>(size - written, static_cast<int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char*>(block.data()), bytes);
        written += bytes;
    }
    if (!out)
        throw std::runtime_error("cannot write " + file);
}

std::string Md5sumOf(const std::string& file)
{
    const std::string command = "md5sum '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::string();
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!got)
        return std::string();
    std::string text(line);
    return text.substr(0, text.find(' '));
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
        if (downloader.GetState() != DownloadState::Completed || downloader.GetChecksum() != setup->md5) {
            state.SkipWithError("the download did not complete with the right checksum");
            break;
        }
        state.SetIterationTime(seconds);
        setup->jobSeconds.push_back(seconds);
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
        const std::string md5 = code == 0 ? Md5sumOf(target) : std::string();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

} // namespace

int main(int argc, char** argv)
{
    int64_t mib = 1024;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mib=", 11) == 0)
            mib = std::max<int64_t>(1, std::atoll(argv[i] + 11));
        else
            args.push_back(argv[i]);
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
    data.server.Start();
    data.server.AddFile("/releases/BENCH/setup.bin", data.source);
    data.url = data.server.Url("/releases/BENCH/setup.bin");

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
    std::printf("\nDownload and verify %lld MiB on loopback (median of %d runs each):\n", static_cast<long long>(mib),
                Rounds);
    std::printf("  DownloaderBackgrounder start to Completed: %8.3f s  (%7.1f MiB/s)\n", job,
                job > 0 ? static_cast<double>(mib) / job : 0.0);
    std::printf("  curl -o plus md5sum:                       %8.3f s  (%7.1f MiB/s)\n", curl,
                curl > 0 ? static_cast<double>(mib) / curl : 0.0);
    if (job > 0 && curl > 0)
        std::printf("  ratio DownloaderBackgrounder / (curl + md5sum): %.3f\n", job / curl);

    data.server.Stop();
    boost::system::error_code ignored;
    fs::remove_all(data.folder, ignored);
    return 0;
}
