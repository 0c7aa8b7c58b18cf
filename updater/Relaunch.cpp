#include "updater/Relaunch.h"

#include "Common/Globals.h"
#include "Common/Log.h"
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace Quendal {
namespace Updater {

std::vector<std::string> RelaunchArgsAsGiven;

std::vector<std::string> GetRelaunchArgs()
{
    return RelaunchArgs;
}

std::string RelaunchProgramPath(const std::string& quotedFirst)
{
    std::string path = quotedFirst;
    if (!path.empty() && path.front() == '"')
        path.erase(0, 1);
    if (!path.empty() && path.back() == '"')
        path.pop_back();
    return path;
}

int FinishAfterMessageLoop()
{
    std::vector<std::string> args = GetRelaunchArgs();
    if (!RelaunchFlag || args.empty()) {
        CSingleton<CLog>::GetInstance();
        CSingleton<CLog>::DestroyInstance();
        return 0;
    }

    std::string program = RelaunchProgramPath(args.front());
    std::cout.flush();
    std::fflush(stdout);
    if (!program.empty() && platform::StartProcess(program, RelaunchArgsAsGiven) == 0)
        std::_Exit(0);
    std::exit(1);
}

} // namespace Updater
} // namespace Quendal
