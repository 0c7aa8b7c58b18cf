#include "UpdateManager/tests/support/installer_support.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <stdexcept>
#include <thread>

#include <stdlib.h>

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

void WriteFile(const fs::path& path, const std::string& content)
{
    fs::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path)
{
    fs::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::istringstream in(ReadFile(path));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
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
