#include "testsupport/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Quendal {
namespace Testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        if (changes.count(name) == 0)
            result.push_back(text);
    }
    for (const auto& change : changes) {
        if (change.second)
            result.push_back(change.first + "=" + *change.second);
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::chrono::milliseconds Remaining(Clock::time_point deadline)
{
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// Both ends close on exec; the program gets the write end as a standard stream.
struct Pipe {
    int ends[2] = {-1, -1};

    int WriteEnd()
    {
        if (ends[1] < 0 && pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe2 failed: ") + std::strerror(errno));
        return ends[1];
    }
    int TakeReadEnd()
    {
        const int end = ends[0];
        ends[0] = -1;
        return end;
    }
    ~Pipe()
    {
        for (int end : ends)
            if (end >= 0)
                close(end);
    }
};

// The file actions and attributes of one start.
class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // Default signal actions and an empty mask, whatever this test program set.
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void Open(int fd, const std::string& path, int flags)
    {
        posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0644);
    }
    void Dup(int from, int fd) { posix_spawn_file_actions_adddup2(&actions, from, fd); }
    void ChangeFolder(const std::string& folder) { posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()); }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

} // namespace

ChildProcess::ChildProcess(const ChildOptions& options)
{
    std::vector<std::string> argv{options.program};
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<std::string> envp = ChildEnvironment(options.environment);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envpPointers = Pointers(envp);

    SpawnSetup setup;
    Pipe readPipe;   // ChildOutput::Pipe
    Pipe unreadPipe; // ChildOutput::ClosedPipe
    setup.Open(0, "/dev/null", O_RDONLY);
    const auto route = [&](int fd, ChildOutput to, const std::string& path) {
        switch (to) {
        case ChildOutput::Null:
            setup.Open(fd, "/dev/null", O_WRONLY);
            break;
        case ChildOutput::File:
            setup.Open(fd, path, O_WRONLY | O_CREAT | O_TRUNC);
            break;
        case ChildOutput::Pipe:
            setup.Dup(readPipe.WriteEnd(), fd);
            break;
        case ChildOutput::ClosedPipe:
            setup.Dup(unreadPipe.WriteEnd(), fd);
            break;
        case ChildOutput::Inherited:
            break;
        }
    };
    route(1, options.stdoutTo, options.stdoutPath);
    route(2, options.stderrTo, options.stderrPath);
    if (unreadPipe.ends[0] >= 0)
        close(unreadPipe.TakeReadEnd());
    if (!options.workingFolder.empty())
        setup.ChangeFolder(options.workingFolder);

    auto spawn = options.searchPath ? posix_spawnp : posix_spawn;
    const int error = spawn(&pid, options.program.c_str(), &setup.actions, &setup.attributes, argvPointers.data(),
                            envpPointers.data());
    if (error != 0) {
        pid = -1;
        throw std::runtime_error("cannot start " + options.program + ": " + std::strerror(error));
    }
    output = readPipe.TakeReadEnd();
}

ChildProcess::~ChildProcess()
{
    if (pid > 0 && !status) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (output >= 0)
        close(output);
}

bool ChildProcess::Running()
{
    if (status)
        return false;
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) {
        if (WIFEXITED(raw)) {
            status = WEXITSTATUS(raw);
        } else if (WIFSIGNALED(raw)) {
            endSignal = WTERMSIG(raw);
            status = 128 + endSignal;
        } else {
            status = -1;
        }
    }
    return !status;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Running()) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            status = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

void ChildProcess::Send(int signal)
{
    if (Running())
        kill(pid, signal);
}

bool ChildProcess::ReadSome(std::string& text, std::chrono::milliseconds wait, std::size_t most)
{
    if (output < 0)
        return false;
    pollfd ready{output, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(wait.count()));
    if (polled <= 0)
        return polled == 0 || errno == EINTR;
    char buffer[4096];
    const ssize_t n = read(output, buffer, std::min(sizeof buffer, most));
    if (n > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    std::string line;
    std::string next;
    while (Clock::now() <= deadline && ReadSome(next, Remaining(deadline), 1)) {
        if (next == "\n")
            break;
        line += next;
        next.clear();
    }
    return line;
}

std::string ChildProcess::ReadAll(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    std::string text;
    for (;;) {
        // Checked before reading: what it wrote before its end is in the pipe.
        const bool ended = !Running();
        if (!ended && Clock::now() > deadline)
            break;
        const std::size_t before = text.size();
        const auto wait =
            ended ? std::chrono::milliseconds(0) : std::min(Remaining(deadline), std::chrono::milliseconds(100));
        if (!ReadSome(text, wait) || (ended && text.size() == before))
            break;
    }
    return text;
}

ChildResult RunProgram(const ChildOptions& options, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    ChildProcess child(options);
    ChildResult result;
    result.output = child.ReadAll(limit);
    const std::optional<int> code = child.Wait(Remaining(deadline));
    result.signal = child.EndSignal();
    if (code && result.signal == 0)
        result.exitCode = *code;
    return result;
}

std::string RunAndRead(const std::vector<std::string>& argv, int* exitCode)
{
    ChildOptions options;
    options.program = argv.front();
    options.args.assign(argv.begin() + 1, argv.end());
    options.stdoutTo = ChildOutput::Pipe;
    options.searchPath = true;
    ChildResult result;
    try {
        result = RunProgram(options, std::chrono::seconds(10));
    } catch (const std::runtime_error&) {
        result = ChildResult{};
    }
    if (exitCode != nullptr)
        *exitCode = result.signal != 0 ? 128 + result.signal : result.exitCode;
    return result.output;
}

} // namespace Testing
} // namespace Quendal
