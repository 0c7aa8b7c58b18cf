#include "testsupport/ScriptInstaller.h"

#include "testsupport/Files.h"

#include <boost/filesystem/operations.hpp>

#include <sstream>

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

} // namespace Testing
} // namespace Quendal
