#pragma once
// The updater program against the test server: a scratch home with its
// Downloads folder, a release folder served by an in-process test server,
// installer and relaunch scripts that record how they were run.

#include "testsupport/Files.h"
#include "testsupport/ChildProcess.h"

#include "testserver/TestServer.h"

#include <boost/filesystem/path.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// How the installer script behaves in each mode; a gate makes it wait until
// that file exists (its record line is written before).
struct InstallerScript {
    int silentExit = 0;
    int interactiveExit = 0;
    bool silentGate = false;
    bool interactiveGate = false;
    std::size_t padding = 0; // bytes of comment after the script: a bigger download
};

struct UpdaterResult {
    std::optional<int> exitCode; // std::nullopt: it did not end in time and was killed
    std::string out;
    std::string err; // without the toolkit's own lines of a debug build
    pid_t pid = -1;
};

class UpdaterFixture : public ::testing::Test {
protected:
    static constexpr const char* Sku = "prod1";
    static constexpr const char* InstallerName = "setup.sh";

    UpdaterFixture();
    ~UpdaterFixture() override;

    // Skips the test when there is no X display.
    void RequireDisplay();

    // A release of `sku`: the installer script and release.json (`releaseJson`
    // replaces the default members).
    void AddRelease(const std::string& sku, const InstallerScript& script,
                    const std::string& releaseJson = DefaultReleaseJson());
    static std::string DefaultReleaseJson();

    // "127.0.0.1:<port>"
    std::string ServerArg() const;
    std::string ApiPath(const std::string& sku) const;
    std::string InstallerPath(const std::string& sku) const; // the server path of the installer

    // Starts the updater with `args` in the scratch folder; `display` false
    // removes DISPLAY from its environment.
    std::unique_ptr<ChildProcess> StartUpdater(const std::vector<std::string>& args, bool display = true,
                                               std::optional<std::string> displayValue = std::nullopt,
                                               bool closedStdout = false);
    UpdaterResult Finish(ChildProcess& child);
    UpdaterResult RunUpdater(const std::vector<std::string>& args, bool display = true,
                             std::optional<std::string> displayValue = std::nullopt);

    // The installer's record: one line per run, "run" followed by " [arg]" for
    // each argument.
    std::vector<std::string> InstallerRuns() const;
    // Waits until the installer has been run `count` times.
    bool WaitForInstallerRuns(std::size_t count);
    void OpenSilentGate();
    void OpenInteractiveGate();

    // The relaunch script (relative to the working folder: "./relaunch.sh").
    std::string RelaunchScript() const { return "./relaunch.sh"; }
    // Waits for the relaunch script's record: "pid N" then one "[arg]" line
    // per argument; std::nullopt when it has not run within the time limit.
    std::optional<std::vector<std::string>> WaitForRelaunch();
    bool Relaunched() const;

    // Files in the Downloads folder by name.
    std::vector<std::string> DownloadedFiles() const;
    boost::filesystem::path Downloads() const;

    ScratchFolder scratch;
    testserver::TestServer server;
};

} // namespace Testing
} // namespace Quendal
