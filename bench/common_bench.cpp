// Figures for the logger and the file checksum.
//
//   common_bench [benchmark flags] [--checksum-mib=N] >/dev/null
//
// The logger's writer task prints the enabled lines to standard output, so the
// figures go to standard error: send standard output to /dev/null (or a file)
// to keep them apart. At the end the program hashes a scratch file of N MiB
// (default 256, 0 skips it; the file goes to $TMPDIR or /tmp) once with
// GetFileChecksum and once with md5sum, and prints both times and their ratio.

#include "Common/Helpers.h"
#include "Common/Log.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The product's case: no category is enabled, every call stops at the filter.
void BM_FilteredLog(benchmark::State& state)
{
    CLog* log = CSingleton<CLog>::GetInstance();
    const boost::filesystem::path file("/tmp/some dir/installer.exe");
    int64_t i = 0;
    for (auto _ : state)
        log->Debug("update_manager", "Checking ", file, " step ", ++i);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilteredLog);

// An enabled category: filter, format, copy into the thread's ring. A thread
// that writes faster than the writer task drains (every 200 ms) takes the
// overrun path, which prints its line at once.
void BM_EnabledLog(benchmark::State& state)
{
    CLog* log = CSingleton<CLog>::GetInstance();
    const boost::filesystem::path file("/tmp/some dir/installer.exe");
    int64_t i = 0;
    for (auto _ : state)
        log->Info("bench", "Downloaded ", ++i, " bytes to ", file);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnabledLog)->Threads(1)->Threads(4)->UseRealTime();

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RunMd5sum(const std::string& file)
{
    std::string command = "md5sum '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::string();
    char buffer[256] = {};
    std::string out;
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    pclose(pipe);
    return out.substr(0, out.find(' '));
}

int CompareChecksums(std::size_t mib)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string file = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/quendal-bench-" +
                             std::to_string(getpid()) + ".bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937_64 random(42);
        std::vector<uint64_t> block(1 << 17); // 1 MiB
        for (std::size_t m = 0; m < mib && out; ++m) {
            for (uint64_t& word : block)
                word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
        if (!out) {
            std::cerr << "cannot write " << file << "\n";
            std::remove(file.c_str());
            return 1;
        }
    }

    RunMd5sum(file); // both runs then read from the page cache
    constexpr int Runs = 3;
    double ours = 1e30;
    double theirs = 1e30;
    std::string ourDigest;
    std::string theirDigest;
    for (int run = 0; run < Runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        ourDigest = Quendal::GetFileChecksum(file);
        ours = std::min(ours, Seconds(start));
        start = std::chrono::steady_clock::now();
        theirDigest = RunMd5sum(file);
        theirs = std::min(theirs, Seconds(start));
    }
    std::remove(file.c_str());

    std::fprintf(stderr,
                 "\nChecksum of %zu MiB (best of %d, file in the page cache)\n"
                 "  GetFileChecksum  %8.3f s  %8.1f MiB/s  %s\n"
                 "  md5sum           %8.3f s  %8.1f MiB/s  %s\n"
                 "  ratio GetFileChecksum / md5sum: %.2f\n",
                 mib, Runs, ours, static_cast<double>(mib) / ours, ourDigest.c_str(), theirs,
                 static_cast<double>(mib) / theirs, theirDigest.c_str(), ours / theirs);
    if (ourDigest != theirDigest) {
        std::fprintf(stderr, "  the digests differ\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t checksumMib = 256;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--checksum-mib=", 15) == 0)
            checksumMib = std::strtoul(argv[i] + 15, nullptr, 10);
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    // Before any thread logs.
    CSingleton<CLog>::GetInstance()->EnableCategoryForTesting("bench", CLog::Level::Debug);

    benchmark::ConsoleReporter reporter(isatty(STDERR_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                              : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    int result = 0;
    if (checksumMib > 0)
        result = CompareChecksums(checksumMib);
    CSingleton<CLog>::DestroyInstance();
    return result;
}
