// The updater program end to end on loopback, against the test server
// program (a process of its own, --verbose), in one run:
//   (a) the whole update of an installer script padded to N MiB (its tail is
//       a binary blob after "exit 0"), from the updater's start to its exit
//       (with a relaunch command), against curl -o plus md5sum plus running
//       the same script, alternating, R rounds each;
//   (b) the updater's CPU use while it waits on a slow download (a second
//       server with --throttle), from /proc/<pid>/stat utime+stime over a
//       few seconds (goal: at most 1 % of one core);
//   (c) its peak resident memory, the largest ru_maxrss of its runs (goal: at
//       most 40 MB);
//   (d) the time from its start to its first request (goal: at most 300 ms),
//       the server's request lines stamped as they arrive on the pipe.
//
//   DISPLAY=:0 update_bench [--size-mib=N] [--rounds=R]   (N default 1024, R default 3)
//
// Needs an X display in DISPLAY (the updater shows its window; for example
// Xvfb :97 with a window manager), curl and md5sum. Works in a fresh folder
// under $TMPDIR or /tmp (about twice N MiB at the peak), removed at the
// end. Prints each round, then each figure with its goal and the ratio.

#include "bench/BenchFiles.h"
#include "Common/Numbers.h"

#include "testserver/TestServer.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = boost::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int64_t MiB = 1024 * 1024;
constexpr const char* Sku = "BENCH";
constexpr const char* InstallerName = "setup.sh";
constexpr uint64_t SlowRate = 128 * 1024;           // bytes a second of the throttled server
constexpr auto CpuSettle = std::chrono::seconds(1); // after the download's request, before measuring
constexpr auto CpuWindow = std::chrono::seconds(5);
constexpr auto UpdateLimit = std::chrono::minutes(5);

constexpr double CpuGoalPercent = 1.0;
constexpr double MemoryGoalMB = 40.0;
constexpr double FirstRequestGoalMs = 300.0;

struct Options {
    int64_t mib = 1024;
    int rounds = 3;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool read = false;
        if (arg.rfind("--size-mib=", 0) == 0)
            read = ParseDigits(arg.substr(11), options.mib);
        else if (arg.rfind("--rounds=", 0) == 0)
            read = ParseDigits(arg.substr(9), options.rounds);
        if (!read)
            return false;
    }
    return options.mib > 0 && options.rounds > 0;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// A shell script that records its arguments in `record`, then `size` bytes
// in all: the rest is random bytes after "exit 0", never read by the shell.
void WriteInstaller(const fs::path& path, const fs::path& record, int64_t size)
{
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    const std::string head = "#!/bin/sh\necho \"run $*\" >> '" + record.string() + "'\nexit 0\n";
    out << head;
    Bench::WriteRandomBytes(out, size - static_cast<int64_t>(head.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    fs::permissions(path, fs::perms(0755));
}

// --- child processes ----------------------------------------------------------

// Variables set for a child; the rest is inherited.
using Environment = std::map<std::string, std::string>;

std::vector<std::string> EnvironmentWith(const Environment& env)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (env.count(text.substr(0, text.find('='))) == 0)
            result.push_back(text);
    }
    for (const auto& variable : env)
        result.push_back(variable.first + "=" + variable.second);
    return result;
}

// Starts `args` (args[0] is the program's path) with standard output and
// error on `outFd` (-1: a file `outPath`, empty: /dev/null).
pid_t Spawn(std::vector<std::string> args, const Environment& env = {}, int outFd = -1,
            const std::string& outPath = std::string())
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    } else {
        const std::string path = outPath.empty() ? "/dev/null" : outPath;
        posix_spawn_file_actions_addopen(&actions, 1, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = EnvironmentWith(env);
    std::vector<char*> envp;
    for (std::string& entry : envText)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
    return pid;
}

struct Ended {
    int exitCode = -1; // 128 + signal when killed
    rusage usage{};
    Clock::time_point at;
};

// Waits for the child (polling every millisecond); kills it after `limit`.
Ended Reap(pid_t pid, Clock::duration limit)
{
    Ended ended;
    const Clock::time_point deadline = Clock::now() + limit;
    bool killed = false;
    for (;;) {
        int status = 0;
        const pid_t got = wait4(pid, &status, WNOHANG, &ended.usage);
        if (got == pid) {
            ended.at = Clock::now();
            ended.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return ended;
        }
        if (got < 0 && errno != EINTR)
            throw std::runtime_error("wait4 failed");
        if (!killed && Clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int Run(const std::vector<std::string>& args)
{
    return Reap(Spawn(args), UpdateLimit).exitCode;
}

// utime + stime in seconds from a /proc/.../stat file; negative when unreadable.
double CpuSecondsOf(const std::string& statFile)
{
    std::ifstream in(statFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1.0;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> values;
    std::string value;
    while (fields >> value)
        values.push_back(value);
    // After the command: state is field 3, utime 14 and stime 15.
    uint64_t utime = 0;
    uint64_t stime = 0;
    if (values.size() < 13 || !ParseDigits(values[11], utime) || !ParseDigits(values[12], stime))
        return -1.0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double CpuSeconds(pid_t pid)
{
    return CpuSecondsOf("/proc/" + std::to_string(pid) + "/stat");
}

// Each thread's name and CPU seconds, by thread id.
std::map<std::string, std::pair<std::string, double>> ThreadCpu(pid_t pid)
{
    std::map<std::string, std::pair<std::string, double>> threads;
    boost::system::error_code error;
    for (fs::directory_iterator it(fs::path("/proc/" + std::to_string(pid) + "/task"), error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream comm((it->path() / "comm").string());
        std::string name;
        std::getline(comm, name);
        threads[it->path().filename().string()] = {name, CpuSecondsOf((it->path() / "stat").string())};
    }
    return threads;
}

// --- the test server program --------------------------------------------------

struct LoggedRequest {
    Clock::time_point at;
    std::string line; // "#1 GET /path [Range: ...]"
};

class ServerProgram {
public:
    ServerProgram(const fs::path& releases, uint64_t throttle)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::vector<std::string> args = {TESTSERVER_PROGRAM, "--releases", releases.string(), "--verbose"};
        if (throttle > 0) {
            args.push_back("--throttle");
            args.push_back(std::to_string(throttle));
        }
        pid = Spawn(args, {}, fds[1]);
        close(fds[1]);
        out = fds[0];
        const std::string first = ReadLine(10000);
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.rfind(prefix, 0) != 0 || !ParseDigits(first.substr(prefix.size()), port)) {
            Stop();
            throw std::runtime_error("the test server did not start: '" + first + "'");
        }
        reader = std::thread([this] {
            for (;;) {
                std::string line = ReadLine(-1);
                if (line.empty())
                    return;
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back({Clock::now(), line});
            }
        });
    }
    ~ServerProgram() { Stop(); }
    ServerProgram(const ServerProgram&) = delete;
    ServerProgram& operator=(const ServerProgram&) = delete;

    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port); }
    std::string Url(const std::string& path) const { return "http://" + HostPort() + path; }

    std::vector<LoggedRequest> Requests() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return requests;
    }
    std::size_t Count() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return requests.size();
    }
    // The first request from index `from` on whose line holds `text`.
    std::optional<LoggedRequest> Find(std::size_t from, const std::string& text) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t i = from; i < requests.size(); ++i) {
            if (requests[i].line.find(text) != std::string::npos)
                return requests[i];
        }
        return std::nullopt;
    }

private:
    // One line without its newline; empty at the end of output or when no
    // byte came for `timeoutMs` (-1: no limit).
    std::string ReadLine(int timeoutMs)
    {
        std::string line;
        for (;;) {
            pollfd p{out, POLLIN, 0};
            int ready = 0;
            do {
                ready = poll(&p, 1, timeoutMs);
            } while (ready < 0 && errno == EINTR);
            if (ready <= 0)
                return line;
            char c = 0;
            if (read(out, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }

    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            Reap(pid, std::chrono::seconds(10));
            pid = -1;
        }
        if (reader.joinable())
            reader.join();
        if (out >= 0)
            close(out);
        out = -1;
    }

    pid_t pid = -1;
    int out = -1;
    uint16_t port = 0;
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<LoggedRequest> requests;
};

// --- the runs -----------------------------------------------------------------

struct Setup {
    fs::path folder;
    fs::path releases;
    fs::path record;   // the installer's runs
    fs::path relaunch; // the relaunch script
    fs::path relaunched;
    std::string md5;
    int64_t size = 0;
};

std::string ApiPath()
{
    return testserver::TestServer::ApiPath("soft", Sku, "windows");
}

std::string InstallerPath()
{
    return std::string("/releases/") + Sku + "/" + InstallerName;
}

Environment UpdaterEnvironment(const fs::path& home)
{
    fs::create_directories(home / "Downloads");
    Environment env;
    env["HOME"] = home.string();
    env["XDG_CONFIG_HOME"] = (home / ".config").string();
    return env;
}

pid_t StartUpdater(const Setup& bench, const ServerProgram& server, const fs::path& home)
{
    return Spawn({UPDATER_PROGRAM, "--product-sku", Sku, "--server", server.HostPort(), "--", bench.relaunch.string(),
                  "relaunched"},
                 UpdaterEnvironment(home), -1, (home / "updater.out").string());
}

bool WaitForFile(const fs::path& path, Clock::duration limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    while (!fs::exists(path)) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> Lines(const fs::path& path)
{
    std::ifstream in(path.string());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

struct UpdateRun {
    double seconds = 0;
    double firstRequest = 0;     // start to the first request
    double installerRequest = 0; // start to the installer's request
    long maxRssKiB = 0;
};

// One whole update; std::nullopt (after a line on standard error) when it failed.
std::optional<UpdateRun> RunUpdater(const Setup& bench, const ServerProgram& server)
{
    const fs::path home = bench.folder / "home";
    fs::remove_all(home);
    fs::remove(bench.record);
    fs::remove(bench.relaunched);
    sync();
    const std::size_t from = server.Count();
    const Clock::time_point start = Clock::now();
    const pid_t pid = StartUpdater(bench, server, home);
    const Ended ended = Reap(pid, UpdateLimit);
    const std::optional<LoggedRequest> first = server.Find(from, " GET ");
    const std::optional<LoggedRequest> installer = server.Find(from, " GET " + InstallerPath());
    const bool relaunched = WaitForFile(bench.relaunched, std::chrono::seconds(10));
    const std::vector<std::string> runs = Lines(bench.record);
    if (ended.exitCode != 0 || !first || !installer || !relaunched || runs != std::vector<std::string>{"run /SILENT"} ||
        !fs::is_empty(home / "Downloads")) {
        std::fprintf(stderr,
                     "the update failed: exit code %d, %s request, %s, installer runs %zu, relaunch %s; see %s\n",
                     ended.exitCode, installer ? "an installer" : "no installer", first ? "requests" : "no request",
                     runs.size(), relaunched ? "ran" : "did not run", (home / "updater.out").string().c_str());
        return std::nullopt;
    }
    UpdateRun run;
    run.seconds = Seconds(ended.at - start);
    run.firstRequest = Seconds(first->at - start);
    run.installerRequest = Seconds(installer->at - start);
    run.maxRssKiB = ended.usage.ru_maxrss;
    return run;
}

// curl -o, md5sum, then the script as the updater runs it; negative when a step failed.
double RunCurl(const Setup& bench, const ServerProgram& server)
{
    const fs::path target = bench.folder / "curl" / InstallerName;
    fs::create_directories(target.parent_path());
    fs::remove(target);
    fs::remove(bench.record);
    sync();
    const Clock::time_point start = Clock::now();
    const bool ok = Run({"/usr/bin/curl", "--silent", "--show-error", "--fail", "--output", target.string(),
                         server.Url(InstallerPath())}) == 0 &&
                    Bench::Md5sumOf(target.string()) == bench.md5;
    if (ok)
        fs::permissions(target, fs::perms(0755));
    const bool ran = ok && Run({target.string(), "/SILENT"}) == 0;
    const double seconds = Seconds(Clock::now() - start);
    fs::remove(target);
    if (!ran || Lines(bench.record) != std::vector<std::string>{"run /SILENT"})
        return -1.0;
    return seconds;
}

struct CpuRun {
    double percent = -1.0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long maxRssKiB = 0;
    std::vector<std::pair<std::string, double>> threads; // name and CPU seconds in the window
};

// The updater on a throttled download: its CPU use over CpuWindow once the
// download has started, then it is ended.
std::optional<CpuRun> RunSlow(const Setup& bench, const ServerProgram& slow)
{
    const fs::path home = bench.folder / "home-slow";
    fs::remove_all(home);
    fs::remove(bench.record);
    const std::size_t from = slow.Count();
    const pid_t pid = StartUpdater(bench, slow, home);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (!slow.Find(from, " GET " + InstallerPath()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool started = slow.Find(from, " GET " + InstallerPath()).has_value();
    CpuRun run;
    if (started) {
        std::this_thread::sleep_for(CpuSettle);
        const auto threadsBefore = ThreadCpu(pid);
        const double cpuBefore = CpuSeconds(pid);
        const Clock::time_point before = Clock::now();
        std::this_thread::sleep_for(CpuWindow);
        const double cpuAfter = CpuSeconds(pid);
        for (const auto& thread : ThreadCpu(pid)) {
            const auto earlier = threadsBefore.find(thread.first);
            const double used = thread.second.second - (earlier == threadsBefore.end() ? 0.0 : earlier->second.second);
            if (used > 0)
                run.threads.emplace_back(thread.second.first, used);
        }
        run.wallSeconds = Seconds(Clock::now() - before);
        run.cpuSeconds = cpuAfter - cpuBefore;
        if (cpuBefore >= 0 && cpuAfter >= 0)
            run.percent = 100.0 * run.cpuSeconds / run.wallSeconds;
    }
    kill(pid, SIGKILL);
    const Ended ended = Reap(pid, std::chrono::seconds(10));
    run.maxRssKiB = ended.usage.ru_maxrss;
    if (!started || run.percent < 0 || fs::exists(bench.record)) {
        std::fprintf(stderr, "the slow download did not go as planned (%s); see %s\n",
                     started ? "it ended or installed within the window" : "no installer request",
                     (home / "updater.out").string().c_str());
        return std::nullopt;
    }
    return run;
}

void PrintFigure(const char* what, double value, const char* unit, double goal)
{
    std::printf("  %-44s %9.3f %-4s goal at most %7.3f %-4s ratio %.3f\n", what, value, unit, goal, unit, value / goal);
}

int RunBench(const Options& options, const fs::path& folder)
{
    Setup bench;
    bench.folder = folder;
    bench.releases = folder / "releases";
    bench.record = folder / "installer.record";
    bench.relaunched = folder / "relaunched";
    bench.relaunch = folder / "relaunch.sh";
    bench.size = options.mib * MiB;
    {
        std::ofstream script(bench.relaunch.string());
        script << "#!/bin/sh\necho \"$*\" > '" << bench.relaunched.string() << "'\n";
    }
    fs::permissions(bench.relaunch, fs::perms(0755));
    const fs::path installer = bench.releases / Sku / InstallerName;
    fs::create_directories(installer.parent_path());
    std::printf("writing a %lld MiB installer script to %s\n", static_cast<long long>(options.mib),
                installer.string().c_str());
    std::fflush(stdout);
    WriteInstaller(installer, bench.record, bench.size);
    {
        std::ofstream release((bench.releases / Sku / "release.json").string());
        release << R"({"name": "Bench Product", "version": "2.0.0", "resources_site_link": "http://127.0.0.1/site",)"
                << R"( "file": ")" << InstallerName << R"("})";
    }
    bench.md5 = testserver::Md5HexOfFile(installer.string()); // also brings it into the page cache

    ServerProgram server(bench.releases, 0);
    ServerProgram slow(bench.releases, SlowRate);
    // The servers' MD5 of the installer, cached from here on.
    for (const ServerProgram* s : {&server, &slow}) {
        if (Run({"/usr/bin/curl", "--silent", "--fail", "--output", "/dev/null", s->Url(ApiPath())}) != 0) {
            std::fprintf(stderr, "the test server does not answer the API request\n");
            return 1;
        }
    }

    std::vector<double> updater;
    std::vector<double> curl;
    std::vector<double> firstRequest;
    std::vector<double> installerRequest;
    long maxRssKiB = 0;
    for (int round = 1; round <= options.rounds; ++round) {
        const std::optional<UpdateRun> run = RunUpdater(bench, server);
        if (!run)
            return 1;
        const double baseline = RunCurl(bench, server);
        if (baseline < 0) {
            std::fprintf(stderr, "curl, md5sum or the script failed\n");
            return 1;
        }
        updater.push_back(run->seconds);
        curl.push_back(baseline);
        firstRequest.push_back(run->firstRequest);
        installerRequest.push_back(run->installerRequest);
        maxRssKiB = std::max(maxRssKiB, run->maxRssKiB);
        std::printf("round %d: updater start to exit %7.3f s (first request %.3f s, installer request %.3f s, "
                    "peak RSS %.1f MB)   curl -o + md5sum + script %7.3f s\n",
                    round, run->seconds, run->firstRequest, run->installerRequest, run->maxRssKiB * 1024 / 1e6,
                    baseline);
        std::fflush(stdout);
    }

    std::printf("slow download: %llu bytes/s, CPU over %.0f s after %.0f s of the download\n",
                static_cast<unsigned long long>(SlowRate), Seconds(CpuWindow), Seconds(CpuSettle));
    std::fflush(stdout);
    const std::optional<CpuRun> cpu = RunSlow(bench, slow);
    if (!cpu)
        return 1;
    maxRssKiB = std::max(maxRssKiB, cpu->maxRssKiB);

    const double mibs = static_cast<double>(options.mib);
    std::printf("\nWhole update of a %lld MiB installer on loopback, %d rounds (median):\n",
                static_cast<long long>(options.mib), options.rounds);
    std::printf("  updater start to exit:                 %8.3f s  (%6.1f MiB/s)\n", Median(updater),
                mibs / Median(updater));
    std::printf("  curl -o + md5sum + running the script: %8.3f s  (%6.1f MiB/s)\n", Median(curl), mibs / Median(curl));
    std::printf("  ratio updater / (curl + md5sum + script): %.3f\n", Median(updater) / Median(curl));
    std::printf("  updater start to its installer request: %7.3f s\n", Median(installerRequest));
    std::printf("\nFigures of the updater:\n");
    PrintFigure("CPU while waiting on a slow download", cpu->percent, "%", CpuGoalPercent);
    std::printf("    (%.3f s of CPU in %.3f s, clock ticks of %.0f ms; by thread:", cpu->cpuSeconds, cpu->wallSeconds,
                1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)));
    for (const auto& thread : cpu->threads)
        std::printf(" \"%s\" %.2f s", thread.first.c_str(), thread.second);
    std::printf(")\n");
    PrintFigure("peak resident memory (largest ru_maxrss)", static_cast<double>(maxRssKiB) * 1024 / 1e6, "MB",
                MemoryGoalMB);
    PrintFigure("start to first request (median)", Median(firstRequest) * 1000, "ms", FirstRequestGoalMs);
    std::printf("    (rounds: ");
    for (double value : firstRequest)
        std::printf("%.1f ", value * 1000);
    std::printf("ms)\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const char* display = std::getenv("DISPLAY");
    if (!ParseOptions(argc, argv, options) || display == nullptr || *display == '\0') {
        std::fprintf(stderr,
                     "usage: DISPLAY=:N %s [--size-mib=N] [--rounds=R]   (N default 1024, R default 3)\n"
                     "Needs an X display for the updater's window (for example Xvfb with a window manager).\n",
                     argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const fs::path folder = fs::temp_directory_path() / fs::unique_path("update-bench-%%%%-%%%%");
    fs::create_directories(folder);
    int result = 1;
    try {
        result = RunBench(options, folder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "update_bench: %s\n", e.what());
    }
    boost::system::error_code ignored;
    fs::remove_all(folder, ignored);
    return result;
}
