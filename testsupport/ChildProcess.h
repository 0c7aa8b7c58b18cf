#pragma once
// The one way tests start a program: its own environment changes, working
// folder, and where its standard output and standard error go (nowhere, a
// file, a pipe this process reads, a pipe nobody reads, or this process's
// own). Standard input is /dev/null; signal actions are the defaults and no
// signal is blocked. The program is killed when the object goes before it
// has ended.
//
//   ChildOptions options;
//   options.program = "/bin/sh";
//   options.args = {"-c", "echo hello"};
//   options.stdoutTo = ChildOutput::Pipe;
//   const ChildResult result = RunProgram(options);   // exitCode 0, output "hello\n"

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace Quendal {
namespace Testing {

// Where the program's standard output or standard error goes.
enum class ChildOutput {
    Null,       // /dev/null
    File,       // the file of stdoutPath or stderrPath, created or emptied
    Pipe,       // one pipe this process reads (both streams share it when both go there)
    ClosedPipe, // a pipe nobody reads: writes fail with EPIPE
    Inherited,  // this process's own
};

struct ChildOptions {
    std::string program;
    std::vector<std::string> args; // without the program name
    // Variables set (a value) or removed (std::nullopt); the rest is inherited.
    std::map<std::string, std::optional<std::string>> environment;
    std::string workingFolder; // empty: inherited
    ChildOutput stdoutTo = ChildOutput::Null;
    std::string stdoutPath; // for ChildOutput::File
    ChildOutput stderrTo = ChildOutput::Null;
    std::string stderrPath;  // for ChildOutput::File
    bool searchPath = false; // a program name without a folder is looked up in PATH
};

class ChildProcess {
public:
    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid; }
    // The exit code, or 128 + the signal; std::nullopt when it is still
    // running after `limit` (it is then killed).
    std::optional<int> Wait(std::chrono::milliseconds limit);
    bool Running();
    // The signal that ended it; 0 while it runs and when it exited.
    int EndSignal() const { return endSignal; }
    // Sends `signal` while it runs.
    void Send(int signal);

    // From ChildOutput::Pipe: one line without its newline; what there is at
    // the end of the output or after `limit`.
    std::string ReadLine(std::chrono::milliseconds limit);
    // From ChildOutput::Pipe: everything up to the end of the output, or
    // until `limit`. Once the program has ended, what it wrote is read and
    // a program it started that keeps the pipe open is not waited for.
    std::string ReadAll(std::chrono::milliseconds limit);

private:
    // Reads what the pipe holds within `wait`; false at the end of the output.
    bool ReadSome(std::string& text, std::chrono::milliseconds wait, std::size_t most = 4096);

    pid_t pid = -1;
    int output = -1; // our end of ChildOutput::Pipe
    std::optional<int> status;
    int endSignal = 0;
};

struct ChildResult {
    int exitCode = -1;  // -1 when it was ended by a signal
    int signal = 0;     // the signal that ended it (SIGKILL after the limit)
    std::string output; // what it wrote to ChildOutput::Pipe
};

// Runs a program to its end, reading its pipe, within `limit`. Throws
// std::runtime_error when it cannot be started.
ChildResult RunProgram(const ChildOptions& options, std::chrono::milliseconds limit = std::chrono::seconds(60));

// Runs a program (looked up in PATH) to its end and returns its standard output (standard error
// is discarded); exitCode gets the code, -1 when it could not be started or
// did not end within ten seconds.
std::string RunAndRead(const std::vector<std::string>& argv, int* exitCode = nullptr);

} // namespace Testing
} // namespace Quendal
