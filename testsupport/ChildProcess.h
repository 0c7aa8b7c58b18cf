#pragma once
// A program started for a test: its own environment changes, working folder
// and output files; killed when the object goes before it has ended.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace Quendal {
namespace Testing {

struct ChildOptions {
    std::string program;
    std::vector<std::string> args; // without the program name
    // Variables set (a value) or removed (std::nullopt); the rest is inherited.
    std::map<std::string, std::optional<std::string>> environment;
    std::string workingFolder; // empty: inherited
    std::string stdoutPath;    // empty: /dev/null
    std::string stderrPath;    // empty: /dev/null
    bool closedStdout = false; // standard output is a pipe nobody reads (writes fail with EPIPE)
    bool searchPath = false;   // a program name without a folder is looked up in PATH
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

private:
    pid_t pid = -1;
    std::optional<int> status;
};

// Runs a program (looked up in PATH) to its end and returns its standard output (standard error
// is discarded); exitCode gets the code, -1 when it could not be started or
// did not end within ten seconds.
std::string RunAndRead(const std::vector<std::string>& argv, int* exitCode = nullptr);

} // namespace Testing
} // namespace Quendal
