#include "testsupport/UpdaterFixture.h"

#include "testsupport/Files.h"
#include "testsupport/Wait.h"
#include "testsupport/ScriptInstaller.h"
#include "testsupport/Desktop.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <sstream>

namespace fs = boost::filesystem;

namespace Quendal {
namespace Testing {

namespace {

constexpr auto ProgramLimit = std::chrono::seconds(60);
constexpr auto RelaunchLimit = std::chrono::seconds(20);

// A debug build of JUCE writes its version at start and, after an exit()
// from inside its main routine (the usage and start failures), the objects
// it could not delete; the program's own lines are the rest.
std::string WithoutToolkitLines(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    std::string rest;
    while (std::getline(lines, line)) {
        if (line.rfind("JUCE v", 0) == 0 || line.rfind("*** Leaked objects detected", 0) == 0 ||
            line.rfind("JUCE Assertion failure in juce_", 0) == 0)
            continue;
        rest += line + "\n";
    }
    return rest;
}

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

} // namespace

UpdaterFixture::UpdaterFixture()
{
    fs::create_directories(scratch / "home" / "Downloads");
    fs::create_directories(scratch / "releases");
    fs::create_directories(scratch / "work");
    WriteFile(scratch / "work" / "relaunch.sh",
              "#!/bin/sh\n"
              "out=" +
                  Quoted(scratch / "relaunch.record") +
                  "\n"
                  "{ echo \"pid $$\"; for a in \"$@\"; do echo \"[$a]\"; done; } > \"$out.part\"\n"
                  "mv \"$out.part\" \"$out\"\n");
    fs::permissions(scratch / "work" / "relaunch.sh", fs::perms(0755));
    server.SetReleaseFolder((scratch / "releases").string());
    server.Start();
}

UpdaterFixture::~UpdaterFixture()
{
    // A script still waiting at its gate ends.
    OpenSilentGate();
    OpenInteractiveGate();
    server.Stop();
}

void UpdaterFixture::RequireDisplay()
{
    if (!DisplayAvailable())
        GTEST_SKIP() << "no X display (DISPLAY unset or not reachable): the updater's window cannot be shown";
}

std::string UpdaterFixture::DefaultReleaseJson()
{
    return R"({"name": "Product One", "version": "2.0.0", "resources_site_link": "http://127.0.0.1/site"})";
}

void UpdaterFixture::AddRelease(const std::string& sku, const InstallerScript& installer,
                                const std::string& releaseJson)
{
    const fs::path folder = scratch / "releases" / sku;
    fs::create_directories(folder);
    std::ostringstream script;
    script << "#!/bin/sh\n"
           << "line=run\n"
           << "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
           << "echo \"$line\" >> " << Quoted(scratch / "installer.record") << "\n"
           << "if [ \"$1\" = /SILENT ]; then\n";
    if (installer.silentGate)
        script << "  while [ ! -e " << Quoted(scratch / "silent.gate") << " ]; do sleep 0.01; done\n";
    script << "  exit " << installer.silentExit << "\n"
           << "fi\n";
    if (installer.interactiveGate)
        script << "while [ ! -e " << Quoted(scratch / "interactive.gate") << " ]; do sleep 0.01; done\n";
    script << "exit " << installer.interactiveExit << "\n";
    if (installer.padding > 0) {
        std::string padding(installer.padding, '#');
        for (std::size_t i = 79; i < padding.size(); i += 80)
            padding[i] = '\n';
        script << padding << "\n";
    }
    WriteFile(folder / InstallerName, script.str());
    if (!releaseJson.empty())
        WriteFile(folder / "release.json", releaseJson);
}

std::string UpdaterFixture::ServerArg() const
{
    return "127.0.0.1:" + std::to_string(server.Port());
}

std::string UpdaterFixture::ApiPath(const std::string& sku) const
{
    return testserver::TestServer::ApiPath("soft", sku, "windows");
}

std::string UpdaterFixture::InstallerPath(const std::string& sku) const
{
    return "/releases/" + sku + "/" + InstallerName;
}

std::unique_ptr<ChildProcess> UpdaterFixture::StartUpdater(const std::vector<std::string>& args, bool display,
                                                           std::optional<std::string> displayValue, bool closedStdout)
{
    ChildOptions options;
    options.program = UPDATER_PROGRAM;
    options.args = args;
    options.workingFolder = (scratch / "work").string();
    options.stdoutTo = closedStdout ? ChildOutput::ClosedPipe : ChildOutput::File;
    options.stdoutPath = scratch.File("updater.out");
    options.stderrTo = ChildOutput::File;
    options.stderrPath = scratch.File("updater.err");
    options.environment["HOME"] = (scratch / "home").string();
    options.environment["XDG_CONFIG_HOME"] = (scratch / "home" / ".config").string();
    if (displayValue)
        options.environment["DISPLAY"] = *displayValue;
    else if (!display)
        options.environment["DISPLAY"] = std::nullopt;
    return std::make_unique<ChildProcess>(options);
}

UpdaterResult UpdaterFixture::Finish(ChildProcess& child)
{
    UpdaterResult result;
    result.pid = child.Pid();
    result.exitCode = child.Wait(ProgramLimit);
    result.out = ReadFile(scratch / "updater.out");
    result.err = WithoutToolkitLines(ReadFile(scratch / "updater.err"));
    return result;
}

UpdaterResult UpdaterFixture::RunUpdater(const std::vector<std::string>& args, bool display,
                                         std::optional<std::string> displayValue)
{
    std::unique_ptr<ChildProcess> child = StartUpdater(args, display, displayValue);
    return Finish(*child);
}

std::vector<std::string> UpdaterFixture::InstallerRuns() const
{
    return ReadLines(scratch / "installer.record");
}

bool UpdaterFixture::WaitForInstallerRuns(std::size_t count)
{
    return WaitUntil([&] { return InstallerRuns().size() >= count; });
}

void UpdaterFixture::OpenSilentGate()
{
    WriteFile(scratch / "silent.gate", "");
}

void UpdaterFixture::OpenInteractiveGate()
{
    WriteFile(scratch / "interactive.gate", "");
}

std::optional<std::vector<std::string>> UpdaterFixture::WaitForRelaunch()
{
    if (!WaitUntil([&] { return fs::exists(scratch / "relaunch.record"); }, RelaunchLimit))
        return std::nullopt;
    return ReadLines(scratch / "relaunch.record");
}

bool UpdaterFixture::Relaunched() const
{
    return fs::exists(scratch / "relaunch.record") || fs::exists(scratch / "relaunch.record.part");
}

std::vector<std::string> UpdaterFixture::DownloadedFiles() const
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(Downloads()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path UpdaterFixture::Downloads() const
{
    return scratch / "home" / "Downloads";
}

} // namespace Testing
} // namespace Quendal
