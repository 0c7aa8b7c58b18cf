#pragma once
// What happens once the message loop has ended: the product is started again,
// or the logger is shut down.

#include <string>
#include <vector>

namespace Quendal {
namespace Updater {

// The relaunch arguments as the user gave them; RelaunchArgs (Common/Globals.h)
// holds the same arguments in their quoted forms.
extern std::vector<std::string> RelaunchArgsAsGiven;

// A copy of RelaunchArgs.
std::vector<std::string> GetRelaunchArgs();

// The program to start, from the quoted first relaunch argument: one leading
// double quote removed, then one trailing double quote unless nothing is left.
std::string RelaunchProgramPath(const std::string& quotedFirst);

// Without RelaunchFlag or relaunch arguments: the logger is created if need be
// and destroyed, and the result is 0. Otherwise standard output is flushed,
// the program is started as a new process with the arguments as given, and
// the process ends at once with code 0 without exit handlers; a program that
// cannot be started (or an empty path) ends it through exit(1).
int FinishAfterMessageLoop();

} // namespace Updater
} // namespace Quendal
