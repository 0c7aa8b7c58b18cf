#include "UpdateManager/tests/support/installer_support.h"

#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <thread>

namespace fs = boost::filesystem;

namespace Quendal {
namespace Testing {

void WriteScriptInstaller(const fs::path& path, const ScriptInstaller& installer)
{
    std::ostringstream script;
    script << "#!/bin/sh\n"
           << "log='" << installer.record.string() << "'\n"
           << "printf 'start %s %s\\n' '" << installer.name << "' \"$#\" >> \"$log\"\n"
           << "for a in \"$@\"; do printf 'arg %s\\n' \"$a\" >> \"$log\"; done\n";
    if (!installer.gate.empty())
        script << "while [ ! -e '" << installer.gate.string() << "' ]; do sleep 0.01; done\n";
    script << "printf 'end %s\\n' '" << installer.name << "' >> \"$log\"\n"
           << "exit " << installer.exitCode << "\n";
    WriteFile(path, script.str());
    fs::permissions(path, installer.executable ? fs::perms(0755) : fs::perms(0644));
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace Testing
} // namespace Quendal
