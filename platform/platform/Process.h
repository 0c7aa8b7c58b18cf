#pragma once
#include <string>
#include <vector>

namespace platform {

// How a started program ended.
struct ProcessResult {
    enum class Outcome {
        Exited,     // normal exit; exitCode set
        Signalled,  // ended by a signal; signal set
        NotStarted, // the program could not be started; errorCode set
        WaitFailed  // started, but its end could not be waited for; errorCode set
    };
    Outcome outcome = Outcome::NotStarted;
    int exitCode = -1;
    int signal = 0;
    int errorCode = 0;
};

// Starts the program file `program` (taken as it stands: no search of PATH)
// with the argument vector `args`, args[0] being the name the program sees
// itself started with (empty `args`: the program's path), and blocks until it
// has ended. Arguments reach the program one by one, exactly as given (no
// quoting or joining).
//
// The program inherits the environment and the working directory. It gets
// standard input, output and error and none of the caller's other
// descriptors, an empty signal mask and the default action for every signal.
// Safe to call from any thread; never forks the calling process.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

// RunProcess reduced to one number: the exit code of a normal exit (0..255);
// -1 when the program cannot be started, was ended by a signal, or cannot be
// waited for.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& args);

// Replaces the running process by the program file `program` with the
// argument vector `args` (same rules as RunProcess; the caller's descriptors
// above standard error are not passed on where the system can close them
// on exec). On success it does not return. On failure it returns -1 with
// errorCode set, and the process goes on as before.
int ReplaceProcess(const std::string& program, const std::vector<std::string>& args, int& errorCode);

// Starts the program file `program` as a new process (same rules as
// RunProcess: no search of PATH, so a path without a folder is taken relative
// to the working directory) and returns at once without waiting for it.
// 0 when it was started, otherwise the error number.
int StartProcess(const std::string& program, const std::vector<std::string>& args);

} // namespace platform
