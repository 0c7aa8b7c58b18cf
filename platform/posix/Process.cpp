#include "platform/Process.h"

#include <cerrno>
#include <csignal>

#include <pthread.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define QUENDAL_HAVE_CLOSEFROM_NP 1
#endif

namespace platform {

namespace {

// A null-terminated argv over the texts of `args` (they must outlive it).
std::vector<char*> MakeArgv(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    if (args.empty()) {
        argv.push_back(const_cast<char*>(program.c_str()));
    } else {
        argv.reserve(args.size() + 1);
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// Owns the spawn attributes and file actions of one start.
class SpawnSetup {
public:
    SpawnSetup()
    {
        attrOk = posix_spawnattr_init(&attr) == 0;
        actionsOk = posix_spawn_file_actions_init(&actions) == 0;
    }
    ~SpawnSetup()
    {
        if (actionsOk)
            posix_spawn_file_actions_destroy(&actions);
        if (attrOk)
            posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Empty signal mask and default actions in the child; no descriptor
    // above standard error. 0 or an error number.
    int Prepare()
    {
        if (!attrOk || !actionsOk)
            return ENOMEM;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        int error = posix_spawnattr_setsigmask(&attr, &none);
        if (error == 0)
            error = posix_spawnattr_setsigdefault(&attr, &all);
        if (error == 0)
            error = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
#ifdef QUENDAL_HAVE_CLOSEFROM_NP
        if (error == 0)
            error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
        return error;
    }

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;

private:
    bool attrOk = false;
    bool actionsOk = false;
};

// Starts the child; 0 or an error number.
int Spawn(const std::string& program, const std::vector<std::string>& args, pid_t& pid)
{
    std::vector<char*> argv = MakeArgv(program, args);
    SpawnSetup setup;
    int error = setup.Prepare();
    if (error == 0)
        error = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    return error;
}

} // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args)
{
    ProcessResult result;
    pid_t pid = -1;
    int error = Spawn(program, args, pid);
    if (error != 0) {
        result.outcome = ProcessResult::Outcome::NotStarted;
        result.errorCode = error;
        return result;
    }

    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);

    if (waited < 0) {
        result.outcome = ProcessResult::Outcome::WaitFailed;
        result.errorCode = errno;
    } else if (WIFEXITED(status)) {
        result.outcome = ProcessResult::Outcome::Exited;
        result.exitCode = WEXITSTATUS(status);
    } else {
        result.outcome = ProcessResult::Outcome::Signalled;
        result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return result;
}

int SpawnAndWait(const std::string& program, const std::vector<std::string>& args)
{
    ProcessResult result = RunProcess(program, args);
    return result.outcome == ProcessResult::Outcome::Exited ? result.exitCode : -1;
}

int ReplaceProcess(const std::string& program, const std::vector<std::string>& args, int& errorCode)
{
    std::vector<char*> argv = MakeArgv(program, args);

    // Our descriptors close on exec (ignored where the kernel lacks it); they
    // stay open if exec fails.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

    sigset_t none;
    sigset_t previous;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, &previous);

    execv(program.c_str(), argv.data());

    errorCode = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return -1;
}

int StartProcess(const std::string& program, const std::vector<std::string>& args)
{
    pid_t pid = -1;
    return Spawn(program, args, pid);
}

} // namespace platform
