#include "testsupport/ChildProcess.h"

#include "testsupport/Files.h"
#include "testsupport/Files.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Quendal {
namespace Testing {

namespace {

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

std::optional<int> DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

} // namespace

ChildProcess::ChildProcess(const ChildOptions& options)
{
    std::vector<std::string> argv{options.program};
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<std::string> envp = ChildEnvironment(options.environment);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envpPointers = Pointers(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
    const std::string err = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int pipeEnds[2] = {-1, -1};
    if (options.closedStdout && pipe(pipeEnds) == 0) {
        close(pipeEnds[0]);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
    // Default signal actions and an empty mask, whatever this test program set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    auto spawn = options.searchPath ? posix_spawnp : posix_spawn;
    int error = spawn(&pid, options.program.c_str(), &actions, &attributes, argvPointers.data(), envpPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0)
        close(pipeEnds[1]);
    if (error != 0) {
        pid = -1;
        throw std::runtime_error("cannot start " + options.program + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess()
{
    if (pid > 0 && !status) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool ChildProcess::Running()
{
    if (status)
        return false;
    int raw = 0;
    pid_t done = waitpid(pid, &raw, WNOHANG);
    if (done == pid)
        status = DecodeStatus(raw).value_or(-1);
    return !status;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            status = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

std::string RunAndRead(const std::vector<std::string>& argv, int* exitCode)
{
    ScratchFolder scratch;
    ChildOptions options;
    options.program = argv.front();
    options.args.assign(argv.begin() + 1, argv.end());
    options.stdoutPath = scratch.File("stdout");
    options.searchPath = true;
    int code = -1;
    try {
        ChildProcess child(options);
        code = child.Wait(std::chrono::seconds(10)).value_or(-1);
    } catch (const std::runtime_error&) {
        code = -1;
    }
    if (exitCode != nullptr)
        *exitCode = code;
    return ReadFile(scratch.Path() / "stdout");
}

} // namespace Testing
} // namespace Quendal
