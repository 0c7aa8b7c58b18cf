// The updater program from its command line to its exit code, against the
// test server, with real installer and relaunch scripts.

#include "testsupport/Files.h"
#include "testsupport/Wait.h"
#include "testsupport/UpdaterFixture.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fs = boost::filesystem;
using Quendal::Testing::InstallerScript;
using Quendal::Testing::UpdaterFixture;
using Quendal::Testing::UpdaterResult;
using testserver::Fault;

namespace {

const std::string UsageText =
    "Usage: updater --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]\n"
    "Example: updater --product-sku myproduct -- \"/Application/Quendal/My Product.app\" myarg1 myarg2\n";

const char* const LoggerStopLine = "#### Log engine destruction.";

using Strings = std::vector<std::string>;

class UpdaterProgram : public UpdaterFixture {
protected:
    Strings RequestedPaths() const
    {
        Strings paths;
        for (const testserver::RecordedRequest& request : server.Requests())
            paths.push_back(request.path);
        return paths;
    }
};

TEST_F(UpdaterProgram, UsageErrors)
{
    AddRelease(Sku, {});
    const Strings cases[] = {
        {},
        {"--product-sku"},
        {"--product-sku", ""},
        {"--server", ServerArg()},
        {"--server", ServerArg(), "--", "--product-sku", Sku},
        {"--server", ServerArg(), "--product-sku=prod1"},
    };
    for (bool display : {true, false}) {
        for (const Strings& args : cases) {
            UpdaterResult result = RunUpdater(args, display);
            SCOPED_TRACE(testing::PrintToString(args) + (display ? " with display" : " without display"));
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.out, UsageText);
            EXPECT_EQ(result.err, "");
        }
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(UpdaterProgram, ClosedStandardOutputLosesTextQuietly)
{
    // Not ended by SIGPIPE (exit code 141).
    std::unique_ptr<Quendal::Testing::ChildProcess> usage = StartUpdater({}, false, std::nullopt, true);
    EXPECT_EQ(usage->Wait(std::chrono::seconds(60)), 1);

    RequireDisplay();
    AddRelease(Sku, {});
    std::unique_ptr<Quendal::Testing::ChildProcess> update =
        StartUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript()}, true, std::nullopt, true);
    EXPECT_EQ(update->Wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_TRUE(WaitForRelaunch());
}

TEST_F(UpdaterProgram, WithoutDisplayEndsBeforeAnyRequest)
{
    AddRelease(Sku, {});
    for (std::optional<std::string> display :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>(":9999")}) {
        UpdaterResult result = display ? RunUpdater({"--product-sku", Sku, "--server", ServerArg()}, true, display)
                                       : RunUpdater({"--product-sku", Sku, "--server", ServerArg()}, false);
        SCOPED_TRACE(display.value_or("DISPLAY unset"));
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("no usable display"), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_TRUE(InstallerRuns().empty());
}

TEST_F(UpdaterProgram, AsksForTheSkuOfTheCommandLine)
{
    RequireDisplay();
    struct Case {
        Strings args;
        std::string sku;
    };
    // No release for any of these SKUs: the updater ends after its one request.
    const Case cases[] = {
        {{"--product-sku", "A", "--product-sku", "B", "--server", ServerArg()}, "B"},
        {{"--product-sku", "--server", "--server", ServerArg()}, "--server"},
        {{"--product-sku", "--", "--server", ServerArg()}, "--"},
        {{"x", "--server", ServerArg(), "--product-sku", "C", "y"}, "C"},
        {{"--server", "127.0.0.1:1", "--product-sku", "D", "--server", ServerArg(), "--", "--product-sku", "E"}, "D"},
    };
    for (const Case& c : cases) {
        server.ClearRequests();
        UpdaterResult result = RunUpdater(c.args);
        SCOPED_TRACE(c.sku);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(RequestedPaths(), Strings{ApiPath(c.sku)});
    }
}

TEST_F(UpdaterProgram, UnreachableServer)
{
    RequireDisplay();
    testserver::TestServer closed;
    closed.Start();
    const std::string address = "127.0.0.1:" + std::to_string(closed.Port());
    closed.Stop();
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", address, "--", RelaunchScript()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_FALSE(Relaunched());
}

TEST_F(UpdaterProgram, BadReleaseDataEndsWithoutDownload)
{
    RequireDisplay();
    struct Case {
        const char* label;
        std::string releaseJson; // of the SKU's release folder; empty: no folder
        int status;              // scripted API answer instead, when not 0
        std::string answer;
    };
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += "[";
    const Case cases[] = {
        {"no release", "", 0, ""},
        {"release file broken", "{not json", 0, ""},
        {"not found", "", 404, "{}"},
        {"server error", "", 500, "{}"},
        {"not JSON", "", 200, "<html>hello</html>"},
        {"nested too deep", "", 200, R"({"total": 1, "resources": )" + deep},
        {"resources not a list", "", 200, R"({"total": 1, "resources": {"a": 1}})"},
        {"empty list", "", 200, R"({"total": 1, "resources": []})"},
        {"no site link", R"({"version": "2.0.0"})", 0, ""},
        {"version not a version", R"({"version": "two", "resources_site_link": "http://x/"})", 0, ""},
        {"OS too new needed",
         R"({"version": "2.0.0", "resources_site_link": "http://x/", "platform_min_version": "99.0"})", 0, ""},
        {"OS too old allowed",
         R"({"version": "2.0.0", "resources_site_link": "http://x/", "platform_max_version": "5.1"})", 0, ""},
        {"no installer file name",
         R"({"version": "2.0.0", "resources_site_link": "http://x/", "permalink": "http://127.0.0.1:1/releases/"})", 0,
         ""},
        {"installer name goes up",
         R"({"version": "2.0.0", "resources_site_link": "http://x/", "permalink": "http://127.0.0.1:1/releases/.."})",
         0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(scratch / "releases" / Sku);
        server.ClearContent();
        server.ClearRequests();
        if (!c.releaseJson.empty())
            AddRelease(Sku, {}, c.releaseJson);
        if (c.status != 0)
            server.SetJsonAnswer(ApiPath(Sku), c.status, c.answer);
        UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript()});
        EXPECT_EQ(result.exitCode, 1) << result.out;
        EXPECT_EQ(RequestedPaths(), Strings{ApiPath(Sku)});
        EXPECT_TRUE(DownloadedFiles().empty());
    }
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_FALSE(Relaunched());
}

TEST_F(UpdaterProgram, UpdatesAndRelaunchesWithTheUsersArguments)
{
    RequireDisplay();
    AddRelease(Sku, {});
    UpdaterResult result = RunUpdater(
        {"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript(), "a", "b c", "", "--", "\"q\""});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});

    std::optional<Strings> relaunch = WaitForRelaunch();
    ASSERT_TRUE(relaunch);
    Strings expected{"pid", "[a]", "[b c]", "[]", "[--]", "[\"q\"]"};
    ASSERT_EQ(relaunch->size(), expected.size());
    // A process of its own.
    EXPECT_NE(relaunch->front(), "pid " + std::to_string(result.pid));
    EXPECT_EQ(Strings(relaunch->begin() + 1, relaunch->end()), Strings(expected.begin() + 1, expected.end()));

    EXPECT_TRUE(DownloadedFiles().empty());
    // The relaunch ends the updater before its logger is shut down.
    EXPECT_EQ(result.out.find(LoggerStopLine), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("#### Log engine initialization."), std::string::npos) << result.out;

    std::vector<testserver::RecordedRequest> downloads = server.RequestsFor(InstallerPath(Sku));
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_FALSE(downloads[0].hasRange);
    EXPECT_EQ(server.RequestsFor(ApiPath(Sku)).size(), 2u) << "the start and the refresh after the install";
}

TEST_F(UpdaterProgram, UpdatesWithoutRelaunchCommand)
{
    RequireDisplay();
    AddRelease(Sku, {});
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg()});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_TRUE(DownloadedFiles().empty());
    EXPECT_NE(result.out.find(LoggerStopLine), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
}

TEST_F(UpdaterProgram, MakesAMissingDownloadsFolder)
{
    RequireDisplay();
    AddRelease(Sku, {});
    fs::remove_all(Downloads());
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_TRUE(fs::is_directory(Downloads()));
}

TEST_F(UpdaterProgram, EarlierInstallerFileIsDiscarded)
{
    RequireDisplay();
    AddRelease(Sku, {});
    Quendal::Testing::WriteFile(Downloads() / InstallerName, "#!/bin/sh\necho stale >> /dev/null\n");
    Quendal::Testing::WriteFile(Downloads() / (std::string(InstallerName) + ".confirm"),
                                R"({"size": 33, "checksum": ""})");
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    ASSERT_EQ(server.RequestsFor(InstallerPath(Sku)).size(), 1u);
    EXPECT_FALSE(server.RequestsFor(InstallerPath(Sku))[0].hasRange);
}

TEST_F(UpdaterProgram, VerificationFailureInstallsNothing)
{
    RequireDisplay();
    struct Case {
        const char* label;
        std::string releaseJson;
        std::optional<Fault> fault;
    };
    const std::string wrongChecksum =
        R"({"version": "2.0.0", "resources_site_link": "http://x/", "checksum": "0123456789abcdef0123456789abcdef"})";
    const Case cases[] = {
        {"checksum of the release", wrongChecksum, std::nullopt},
        {"body corrupted", DefaultReleaseJson(), Fault::CorruptBody()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(scratch / "releases" / Sku);
        AddRelease(Sku, {}, c.releaseJson);
        server.ClearFaults();
        if (c.fault)
            server.SetFault(InstallerPath(Sku), *c.fault);
        UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript()});
        EXPECT_EQ(result.exitCode, 0) << result.out;
        EXPECT_TRUE(InstallerRuns().empty());
        EXPECT_FALSE(Relaunched());
    }
}

TEST_F(UpdaterProgram, ResumesAfterAResetConnection)
{
    RequireDisplay();
    InstallerScript installer;
    installer.padding = 100000;
    AddRelease(Sku, installer);
    server.SetFault(InstallerPath(Sku), Fault::ResetAfter(40000), 1);
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_TRUE(WaitForRelaunch());

    std::vector<testserver::RecordedRequest> downloads = server.RequestsFor(InstallerPath(Sku));
    ASSERT_EQ(downloads.size(), 2u);
    EXPECT_FALSE(downloads[0].hasRange);
    ASSERT_TRUE(downloads[1].hasRange);
    // Resumed where the first transfer stopped: after whole chunks of what it got.
    const std::string prefix = "bytes=";
    ASSERT_EQ(downloads[1].range.rfind(prefix, 0), 0u) << downloads[1].range;
    const long offset = std::stol(downloads[1].range.substr(prefix.size()));
    EXPECT_GT(offset, 0);
    EXPECT_LE(offset, 40000);
    EXPECT_EQ(downloads[1].range.back(), '-');
}

TEST_F(UpdaterProgram, GivesUpAfterFiveRelaunchedDownloads)
{
    RequireDisplay();
    InstallerScript installer;
    installer.padding = 200000;
    AddRelease(Sku, installer);
    server.SetFault(InstallerPath(Sku), Fault::ResetAfter(9000));
    UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", RelaunchScript()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(server.RequestsFor(InstallerPath(Sku)).size(), 6u) << "one download and five relaunches";
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_FALSE(Relaunched());
}

TEST_F(UpdaterProgram, RelaunchStartRules)
{
    RequireDisplay();
    struct Case {
        std::string program;
        int exitCode;
        bool runs;
    };
    const Case cases[] = {
        {"./relaunch.sh", 0, true},
        {"relaunch.sh", 0, true}, // relative to the working folder
        {(scratch / "work" / "relaunch.sh").string(), 0, true},
        {"true", 1, false}, // not looked up in PATH
        {"missing-program", 1, false},
        {"\"", 1, false}, // the program path is empty
        {"", 1, false},
        {"work", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        fs::remove(scratch / "relaunch.record");
        fs::remove(scratch / "installer.record");
        fs::remove_all(scratch / "releases" / Sku);
        AddRelease(Sku, {});
        UpdaterResult result = RunUpdater({"--product-sku", Sku, "--server", ServerArg(), "--", c.program, "x"});
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out;
        EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
        if (c.runs) {
            std::optional<Strings> relaunch = WaitForRelaunch();
            ASSERT_TRUE(relaunch);
            EXPECT_EQ(relaunch->back(), "[x]");
        } else {
            EXPECT_FALSE(Relaunched());
            // Nothing printed for the failed start; the logger shuts down at exit.
            EXPECT_NE(result.out.find(LoggerStopLine), std::string::npos) << result.out;
        }
        EXPECT_TRUE(DownloadedFiles().empty());
    }
}

} // namespace
