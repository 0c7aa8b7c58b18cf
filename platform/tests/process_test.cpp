#include "platform/Process.h"
#include "testsupport/ChildTest.h"
#include "testsupport/Files.h"

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = boost::filesystem;
using platform::ProcessResult;
using Quendal::Testing::ChildArguments;
using Quendal::Testing::ReadFile;
using Quendal::Testing::RunChildTest;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

constexpr int ReplaceFailedCode = 120;
constexpr int InheritedFd = 50;

// Arguments: <program> <args...>. Leaves a descriptor open without
// close-on-exec at InheritedFd and replaces itself by <program>.
QUENDAL_CHILD_TEST(ProcessChild, ReplacesItself)
{
    const std::vector<std::string>& args = ChildArguments();
    ASSERT_FALSE(args.empty());
    int fd = open("/dev/null", O_RDONLY);
    if (fd >= 0 && fd != InheritedFd)
        dup2(fd, InheritedFd);
    int errorCode = 0;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    platform::ReplaceProcess(args[0], rest, errorCode);
    _exit(ReplaceFailedCode);
}

std::vector<std::string> SplitNul(const std::string& text)
{
    return Quendal::Testing::SplitAt(text, '\0');
}

class ProcessTest : public ::testing::Test {
protected:
    // A shell-script file of `mode` in the scratch folder.
    fs::path WriteScript(const std::string& name, const std::string& body, fs::perms mode = fs::owner_all)
    {
        fs::path path = dir / name;
        WriteFile(path, body);
        fs::permissions(path, mode);
        return path;
    }

    static ProcessResult Shell(const std::string& command)
    {
        return platform::RunProcess("/bin/sh", {"sh", "-c", command});
    }

    ScratchFolder scratch;
    const fs::path dir = scratch.Path();
};

TEST_F(ProcessTest, ExitCodesOfANormalExit)
{
    for (int code : {0, 1, 3, 127, 255}) {
        SCOPED_TRACE(code);
        ProcessResult result = Shell("exit " + std::to_string(code));
        EXPECT_EQ(result.outcome, ProcessResult::Outcome::Exited);
        EXPECT_EQ(result.exitCode, code);
        EXPECT_EQ(platform::SpawnAndWait("/bin/sh", {"sh", "-c", "exit " + std::to_string(code)}), code);
    }
}

TEST_F(ProcessTest, ArgumentsArriveOneByOneAsGiven)
{
    fs::path out = dir / "cmdline";
    std::vector<std::string> args = {
        "custom name", "-c", "cat /proc/$$/cmdline > '" + out.string() + "'", "two words", "", "\"quoted\"", "/SILENT"};
    EXPECT_EQ(platform::SpawnAndWait("/bin/sh", args), 0);
    EXPECT_EQ(SplitNul(ReadFile(out)), args);
}

TEST_F(ProcessTest, ScriptGetsItsPathAndArgument)
{
    fs::path out = dir / "args";
    fs::path script = WriteScript("with blank.sh", "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$#\" \"$@\" > \"" +
                                                       out.string() + "\"\nexit 4\n");
    EXPECT_EQ(platform::SpawnAndWait(script.string(), {script.string(), "/SILENT"}), 4);
    EXPECT_EQ(ReadFile(out), script.string() + "\n1\n/SILENT\n");

    EXPECT_EQ(platform::SpawnAndWait(script.string(), {}), 4);
    EXPECT_EQ(ReadFile(out), script.string() + "\n0\n");
}

TEST_F(ProcessTest, InheritsEnvironmentAndWorkingDirectory)
{
    ASSERT_EQ(setenv("QUENDAL_PROCESS_TEST", "value 1", 1), 0);
    fs::path out = dir / "env";
    EXPECT_EQ(Shell("{ pwd -P; printf '%s' \"$QUENDAL_PROCESS_TEST\"; } > '" + out.string() + "'").exitCode, 0);
    unsetenv("QUENDAL_PROCESS_TEST");
    EXPECT_EQ(ReadFile(out), fs::canonical(fs::current_path()).string() + "\nvalue 1");
}

TEST_F(ProcessTest, OurDescriptorsAreNotInherited)
{
    int fd = open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    std::string probe = "test -e /proc/$$/fd/" + std::to_string(fd);
    EXPECT_EQ(Shell(probe).exitCode, 1);
    close(fd);
    EXPECT_EQ(Shell("test -e /proc/$$/fd/2").exitCode, 0);
}

TEST_F(ProcessTest, ProgramThatCannotStart)
{
    fs::path plain = WriteScript("plain.sh", "#!/bin/sh\nexit 0\n", fs::owner_read | fs::owner_write);
    fs::path noInterpreter = WriteScript("orphan.sh", "#!/nonexistent/interpreter\nexit 0\n");
    struct Case {
        const char* name;
        std::string program;
        int error;
    };
    const Case cases[] = {
        {"missing file", (dir / "missing").string(), ENOENT},
        {"not executable", plain.string(), EACCES},
        {"directory", dir.string(), EACCES},
        {"missing interpreter", noInterpreter.string(), ENOENT},
        {"empty path", "", ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult result = platform::RunProcess(c.program, {c.program});
        EXPECT_EQ(result.outcome, ProcessResult::Outcome::NotStarted);
        EXPECT_EQ(result.errorCode, c.error);
        EXPECT_EQ(platform::SpawnAndWait(c.program, {c.program}), -1);
    }
}

TEST_F(ProcessTest, SignalIsAFailure)
{
    ProcessResult result = Shell("kill -TERM $$; sleep 5");
    EXPECT_EQ(result.outcome, ProcessResult::Outcome::Signalled);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_EQ(platform::SpawnAndWait("/bin/sh", {"sh", "-c", "kill -KILL $$"}), -1);
}

TEST_F(ProcessTest, ChildStartsWithDefaultSignals)
{
    // A blocked signal in the calling thread is not blocked in the child.
    sigset_t term;
    sigset_t previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &previous), 0);
    ProcessResult blocked = Shell("kill -TERM $$; exit 0");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(blocked.outcome, ProcessResult::Outcome::Signalled);

    // An ignored signal is back to its default action (a shell could not undo it).
    struct sigaction ignore { };
    struct sigaction old { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &ignore, &old), 0);
    ProcessResult ignored = Shell("kill -USR2 $$; exit 0");
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_EQ(ignored.outcome, ProcessResult::Outcome::Signalled);
    EXPECT_EQ(ignored.signal, SIGUSR2);
}

std::atomic<int> interrupts{0};
void CountInterrupt(int)
{
    interrupts.fetch_add(1);
}

TEST_F(ProcessTest, WaitSurvivesInterruptions)
{
    struct sigaction count { };
    struct sigaction old { };
    count.sa_handler = CountInterrupt;
    sigemptyset(&count.sa_mask);
    count.sa_flags = 0; // no SA_RESTART: waitpid sees EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &count, &old), 0);

    // The child runs until the gate opens, which it does once the waiting
    // thread has been interrupted five times since the child started.
    const fs::path started = dir / "started";
    const fs::path gate = dir / "gate";
    interrupts = 0;
    pthread_t waiter = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        int sinceStart = 0;
        while (!done.load()) {
            pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (fs::exists(started) && ++sinceStart == 5)
                WriteFile(gate, "");
        }
    });
    ProcessResult result =
        Shell(": > '" + started.string() + "'; while [ ! -e '" + gate.string() + "' ]; do sleep 0.01; done; exit 7");
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &old, nullptr);

    EXPECT_EQ(result.outcome, ProcessResult::Outcome::Exited);
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_GE(interrupts.load(), 5);
}

TEST_F(ProcessTest, StartsFromSeveralThreadsAtOnce)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 5; ++i) {
                int code = t * 10 + i;
                if (platform::SpawnAndWait("/bin/sh", {"sh", "-c", "exit " + std::to_string(code)}) != code)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(ProcessTest, ReplaceProcessRunsTheProgramInPlace)
{
    fs::path out = dir / "replaced";
    // Same process id before and after; arguments as given; the open
    // descriptor of the replaced program is gone.
    std::string command = "cat /proc/$$/cmdline > '" + out.string() + "'; test -e /proc/$$/fd/" +
                          std::to_string(InheritedFd) + " && exit 1; exit 42";
    const auto child = RunChildTest("ProcessChild.ReplacesItself", {"/bin/sh", "relaunched", "-c", command, "x y"});
    EXPECT_EQ(child.exitCode, 42) << child.output;
    EXPECT_EQ(SplitNul(ReadFile(out)), (std::vector<std::string>{"relaunched", "-c", command, "x y"}));
}

TEST_F(ProcessTest, ReplaceProcessFailureReturns)
{
    const auto child = RunChildTest("ProcessChild.ReplacesItself", {(dir / "missing").string(), "missing"});
    EXPECT_EQ(child.exitCode, ReplaceFailedCode) << child.output;

    int errorCode = 0;
    EXPECT_EQ(platform::ReplaceProcess((dir / "missing").string(), {"missing"}, errorCode), -1);
    EXPECT_EQ(errorCode, ENOENT);
}

} // namespace
