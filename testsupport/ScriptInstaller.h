#pragma once
// Shell-script installers for the installer tests.

#include <boost/filesystem/path.hpp>

#include <string>

namespace Quendal {
namespace Testing {

struct ScriptInstaller {
    std::string name; // written into the record lines
    int exitCode = 0;
    boost::filesystem::path record; // lines appended: "start <name> <argc>", "arg <a>"..., "end <name>"
    boost::filesystem::path gate;   // when set, waits until this file exists before it ends
    bool executable = false;        // written with mode 0755, else 0644 as a download leaves it
};

// Writes `installer` as a shell script at `path`.
void WriteScriptInstaller(const boost::filesystem::path& path, const ScriptInstaller& installer);

} // namespace Testing
} // namespace Quendal
