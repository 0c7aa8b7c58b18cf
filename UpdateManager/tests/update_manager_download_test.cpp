// The update manager's downloads: launch, resume, stop, failure and the
// confirm file, against the test server's release files with a scratch
// Downloads folder and a 50 ms tick driver.

#include "UpdateManager/UpdateManager.h"
#include "testsupport/EngineHarness.h"
#include "testsupport/Payloads.h"
#include "testsupport/ScriptInstaller.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using namespace Quendal::Testing;
using Quendal::UpdateManager::ProductChangedEvent;
using Quendal::UpdateManager::ProductKey;
using Quendal::UpdateManager::UpdateStatus;
using testserver::Fault;
using testserver::RecordedRequest;

namespace {

const std::string Payload = DownloadPayload(200000, 5);

std::string Range(int64_t from)
{
    return "bytes=" + std::to_string(from) + "-";
}

std::string ConfirmFor(int64_t size)
{
    return "{\"size\": \"" + std::to_string(size) + "\", \"checksum\": \"\"}";
}

class Downloads : public EngineTest {
protected:
    // A release of `sku` with the payload as `file`, registered with "0.0";
    // the events of the registration are dropped.
    void Add(const std::string& sku, const std::string& file = "setup.exe", const std::string& content = Payload)
    {
        releases.AddRelease(sku, file, content);
        if (!manager)
            Start();
        manager->AddProduct(Key(sku), "0.0");
        events->Clear();
    }

    std::vector<RecordedRequest> FileRequests(const std::string& sku, const std::string& file = "setup.exe") const
    {
        return releases.FileRequests(sku, file);
    }

    void Slow(const std::string& sku, int times = 1, const std::string& file = "setup.exe")
    {
        releases.Server().SetFault(ReleaseServer::FilePath(sku, file),
                                   Fault::Trickle(4096, std::chrono::milliseconds(20)), times);
    }

    // The events other than the running download's progress.
    std::vector<std::string> Changes() const
    {
        std::vector<std::string> changes;
        for (const std::string& event : events->Events()) {
            if (event.rfind("progress ", 0) != 0)
                changes.push_back(event);
        }
        return changes;
    }

    bool TickUntilProgress()
    {
        return Tick([&] { return !events->Progress().empty() && events->Progress().back() > 0.0; });
    }
};

} // namespace

TEST_F(Downloads, ACompletedDownloadWritesTheConfirmFile)
{
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadInProgress);
    EXPECT_TRUE(log.Has("update_manager", "info", " Launch download for ABC (soft/ABC)")) << log.Describe();
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable)) << events->Describe();

    // The completion carries 100, before the change is reported.
    EXPECT_EQ(Changes(), (std::vector<std::string>{"done ABC 100", "changed ABC 6"})) << events->Describe();
    for (double progress : events->Progress())
        EXPECT_TRUE(progress >= 0.0 && progress <= 1.0) << progress;
    EXPECT_TRUE(log.Has("update_manager", "info",
                        "State for product ABC (soft) switch from download in progress to installer available"));
    EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);
    boost::property_tree::ptree confirm;
    boost::property_tree::read_json((downloads / "setup.exe.confirm").string(), confirm);
    EXPECT_EQ(confirm.get<std::string>("size"), std::to_string(Payload.size()));
    EXPECT_EQ(confirm.get<std::string>("checksum"), testserver::Md5Hex(Payload));

    const std::vector<RecordedRequest> requests = FileRequests("ABC");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].hasRange);
    EXPECT_FALSE(manager->GetDownloadStatus(Key("ABC")));
}

TEST_F(Downloads, FilesOfAnEarlierRunGiveTheStatusAndTheResumePoint)
{
    struct Case {
        const char* sku;
        std::function<void(const fs::path& file)> place;
        UpdateStatus found;
        bool restart;
        int64_t rangeFrom; // -1: no Range
    };
    const Case cases[] = {
        {"NONE", [](const fs::path&) {}, UpdateStatus::UpdateNeeded, false, -1},
        {"PARTIAL", [](const fs::path& file) { WriteFile(file, Payload.substr(0, 5000)); },
         UpdateStatus::DownloadPaused, false, 5000},
        {"CONFIRMONLY", [](const fs::path& file) { WriteFile(file.string() + ".confirm", ConfirmFor(7)); },
         UpdateStatus::UpdateNeeded, false, -1},
        // The whole file with a confirm file that does not match: resumed at
        // its end, and the server's 416 is the whole answer.
        {"WHOLE",
         [](const fs::path& file) {
             WriteFile(file, Payload);
             WriteFile(file.string() + ".confirm", ConfirmFor(1));
         },
         UpdateStatus::DownloadPaused, false, static_cast<int64_t>(Payload.size())},
        {"CONFIRMED",
         [](const fs::path& file) {
             WriteFile(file, Payload.substr(0, 9000));
             WriteFile(file.string() + ".confirm", ConfirmFor(9000));
         },
         UpdateStatus::InstallerAvailable, true, -1},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        const std::string file = std::string(c.sku) + ".exe";
        c.place(downloads / file);
        Add(c.sku, file);
        EXPECT_EQ(Status(c.sku), c.found);
        if (c.found == UpdateStatus::DownloadPaused) {
            EXPECT_EQ(Product(c.sku).installer.GetByteCount(), c.rangeFrom);
        }
        if (c.found == UpdateStatus::UpdateNeeded) {
            EXPECT_EQ(fs::exists(downloads / (file + ".confirm")), std::string(c.sku) == "CONFIRMONLY");
        }

        ASSERT_TRUE(manager->LaunchDownload(Key(c.sku), c.restart));
        ASSERT_TRUE(TickUntilStatus(c.sku, UpdateStatus::InstallerAvailable)) << log.Describe();
        const std::vector<RecordedRequest> requests = FileRequests(c.sku, file);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].range, c.rangeFrom < 0 ? "" : Range(c.rangeFrom));
        EXPECT_EQ(ReadFile(downloads / file), Payload);
    }
}

// A transfer cut short is resumed by the listener from what lies on disk.
TEST_F(Downloads, ACutTransferIsResumedFromTheBytesOnDisk)
{
    struct Case {
        const char* sku;
        Fault fault;
    };
    const Case cases[] = {
        {"RESET", Fault::ResetAfter(60000)},
        {"CLOSED", Fault::CloseAfter(50000)},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        const std::string sku = c.sku;
        const std::string file = sku + ".exe";
        releases.Server().SetFault(ReleaseServer::FilePath(sku, file), c.fault, 1);
        Add(sku, file);
        int64_t onDisk = -1;
        events->onChanged = [&](const ProductChangedEvent& event) {
            if (Status(sku) != UpdateStatus::DownloadPaused)
                return;
            onDisk = FileSizeOf(downloads / file);
            EXPECT_TRUE(manager->LaunchDownload(event.key, false));
        };
        ASSERT_TRUE(manager->LaunchDownload(Key(sku), true));
        ASSERT_TRUE(TickUntilStatus(sku, UpdateStatus::InstallerAvailable)) << log.Describe();

        EXPECT_EQ(Changes(),
                  (std::vector<std::string>{"changed " + sku + " 4", "done " + sku + " 100", "changed " + sku + " 6"}));
        EXPECT_TRUE(
            log.Has("update_manager", "info",
                    "State for product " + sku + " (soft) switch from download in progress to download paused"));
        const std::vector<RecordedRequest> requests = FileRequests(sku, file);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_FALSE(requests[0].hasRange);
        EXPECT_GT(onDisk, 0);
        EXPECT_LT(onDisk, static_cast<int64_t>(Payload.size()));
        EXPECT_EQ(requests[1].range, Range(onDisk));
        EXPECT_EQ(ReadFile(downloads / file), Payload);
        events->onChanged = nullptr;
    }
}

// A failed download is removed and fetched again from byte 0: resuming the
// file of a bad checksum would ask for the range past its end, and fail on
// it again for ever.
TEST_F(Downloads, AFailedDownloadStartsAgainFromZero)
{
    struct Case {
        const char* sku;
        Fault fault;
    };
    const Case cases[] = {
        {"CORRUPT", Fault::CorruptBody()},
        {"SHORT", Fault::WrongLength(100000)},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        releases.Server().SetFault(ReleaseServer::FilePath(c.sku, "setup.exe"), c.fault, 1);
        Add(c.sku, "setup.exe");
        events->Clear();
        ASSERT_TRUE(manager->LaunchDownload(Key(c.sku), false));
        ASSERT_TRUE(TickUntilStatus(c.sku, UpdateStatus::DownloadError)) << log.Describe();
        EXPECT_EQ(events->Events().back(), "changed " + std::string(c.sku) + " 5");
        EXPECT_FALSE(events->Has("done " + std::string(c.sku) + " 100"));
        EXPECT_TRUE(log.Has("update_manager", "info",
                            "State for product " + std::string(c.sku) +
                                " (soft) switch from download in progress to download error"));

        ASSERT_TRUE(manager->LaunchDownload(Key(c.sku), false));
        ASSERT_TRUE(TickUntilStatus(c.sku, UpdateStatus::InstallerAvailable)) << log.Describe();
        const std::vector<RecordedRequest> requests = FileRequests(c.sku);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_FALSE(requests[1].hasRange) << requests[1].range;
        EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);
        fs::remove(downloads / "setup.exe");
        fs::remove(downloads / "setup.exe.confirm");
    }
}

TEST_F(Downloads, AStoppedDownloadIsPausedAndResumes)
{
    Slow("ABC");
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilProgress()) << events->Describe();
    EXPECT_TRUE(manager->GetDownloadStatus(Key("ABC")));

    log.Clear();
    EXPECT_TRUE(manager->StopDownload(Key("ABC"), true));
    EXPECT_TRUE(log.Has("update_manager", "info", "Stop download for ABC (ABC)")) << log.Describe();
    EXPECT_TRUE(log.Contains("Download complete (")) << log.Describe();
    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadInProgress);
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::DownloadPaused));
    EXPECT_EQ(events->Events().back(), "changed ABC 4");
    const int64_t onDisk = FileSizeOf(downloads / "setup.exe");
    EXPECT_GT(onDisk, 0);
    EXPECT_LT(onDisk, static_cast<int64_t>(Payload.size()));

    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable));
    const std::vector<RecordedRequest> requests = FileRequests("ABC");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, Range(onDisk));
    EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);
}

TEST_F(Downloads, EveryStepReportsTheProgressOfARunningDownload)
{
    const int64_t sent = 16384;
    releases.Server().SetFault(ReleaseServer::FilePath("ABC", "setup.exe"),
                               Fault::StallAfter(sent, std::chrono::milliseconds(1500)), 1);
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    const double stalledAt = static_cast<double>(sent) / static_cast<double>(Payload.size());
    ASSERT_TRUE(WaitUntil([&] { return Product("ABC").downloader->GetProgress() >= stalledAt - 1e-9; }));

    events->Clear();
    for (int i = 0; i < 3; ++i)
        manager->UpdateProductStates();
    EXPECT_EQ(events->Events(), (std::vector<std::string>(3, "progress ABC")));
    EXPECT_EQ(events->Progress(), (std::vector<double>(3, events->Progress().front())));
    EXPECT_DOUBLE_EQ(events->Progress().front(), stalledAt);
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable));
}

// The confirm file cannot be written: the download ends as an error, once,
// and is not reported as an installer.
TEST_F(Downloads, AConfirmFileThatCannotBeWrittenIsADownloadError)
{
    fs::create_directories(downloads / "setup.exe.confirm");
    WriteFile(downloads / "setup.exe.confirm" / "in the way", "");
    Add("ABC");
    ASSERT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(Tick([&] { return Status("ABC") != UpdateStatus::DownloadInProgress; }));

    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadError);
    EXPECT_EQ(Changes(), (std::vector<std::string>{"changed ABC 5"}));
    EXPECT_TRUE(log.Has("update_manager", "info",
                        "State for product ABC (soft) switch from download in progress to download error"));
    events->Clear();
    manager->UpdateProductStates();
    manager->UpdateProductStates();
    EXPECT_TRUE(events->Events().empty());
    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadError);
}

TEST_F(Downloads, CommandsOnAnUnknownKeyAreRefused)
{
    struct Case {
        const char* name;
        std::function<bool(Quendal::UpdateManager::UpdateManager&)> command;
        const char* level;
        const char* line;
    };
    const ProductKey nope("NOPE", "soft");
    const Case cases[] = {
        {"LaunchDownload", [&](auto& m) { return m.LaunchDownload(nope, false); }, "error",
         "Could not find product info for NOPE while launching download"},
        {"LaunchDownload restart", [&](auto& m) { return m.LaunchDownload("NOPE", "soft", true); }, "error",
         "Could not find product info for NOPE while launching download"},
        {"LaunchInstaller", [&](auto& m) { return m.LaunchInstaller(nope, true); }, "warning",
         "Could not find product info for NOPE while launching install"},
        {"LaunchInstaller sku", [&](auto& m) { return m.LaunchInstaller("NOPE", "soft", false); }, "warning",
         "Could not find product info for NOPE while launching install"},
        {"StopDownload", [&](auto& m) { return m.StopDownload(nope, true); }, "error",
         "Could not find product info for NOPE while stopping download"},
        {"StopDownload sku", [&](auto& m) { return m.StopDownload("NOPE", "soft", false); }, "error",
         "Could not find product info for NOPE while stopping download"},
        {"ResetProduct", [&](auto& m) { return m.ResetProduct(nope); }, "error",
         "Could not find product info for NOPE while stopping download"},
        {"ResetProduct sku", [&](auto& m) { return m.ResetProduct("NOPE", "soft"); }, "error",
         "Could not find product info for NOPE while stopping download"},
        {"GetDownloadStatus", [&](auto& m) { return m.GetDownloadStatus("NOPE", "soft"); }, "", ""},
    };
    Add("ABC");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        bool result = true;
        EXPECT_NO_THROW(result = c.command(*manager));
        EXPECT_FALSE(result);
        if (*c.line != '\0') {
            EXPECT_EQ(log.Lines().size(), 1u) << log.Describe();
            EXPECT_TRUE(log.Has("update_manager", c.level, c.line)) << log.Describe();
        } else {
            EXPECT_TRUE(log.Lines().empty()) << log.Describe();
        }
    }
    EXPECT_EQ(manager->GetProducts().size(), 1u);
    manager->LaunchAllDownloads();
    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadInProgress);
}

TEST_F(Downloads, CommandsRefuseWhatTheStatusDoesNotAllow)
{
    Slow("ABC");
    Add("ABC");
    log.Clear();
    EXPECT_FALSE(manager->LaunchInstaller(Key("ABC"), true));
    EXPECT_TRUE(log.Has("update_manager", "warning",
                        "Attempt to launch installer for ABC (ABC) but installer is not available."))
        << log.Describe();
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);

    // Nothing runs: stopping is harmless.
    EXPECT_TRUE(manager->StopDownload(Key("ABC"), true));
    EXPECT_TRUE(log.Has("update_manager", "info", "Stop download for ABC (ABC)"));

    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilProgress());
    log.Clear();
    EXPECT_FALSE(manager->LaunchDownload(Key("ABC"), false));
    EXPECT_TRUE(log.Has("update_manager", "warning",
                        " Attempt to launch download for ABC (soft/ABC) but status is download in progress"))
        << log.Describe();
    EXPECT_FALSE(manager->LaunchInstaller(Key("ABC"), true));
    EXPECT_TRUE(manager->GetDownloadStatus(Key("ABC")));
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable));
    EXPECT_EQ(FileRequests("ABC").size(), 1u);
    EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);

    EXPECT_FALSE(manager->LaunchDownload(Key("ABC"), false));
    EXPECT_TRUE(log.Has("update_manager", "warning",
                        " Attempt to launch download for ABC (soft/ABC) but status is installer available"));
}

TEST_F(Downloads, ARestartDuringADownloadStartsAgainFromZero)
{
    Slow("ABC", 2);
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilProgress());
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), true));
    EXPECT_EQ(Status("ABC"), UpdateStatus::DownloadInProgress);
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable)) << log.Describe();
    const std::vector<RecordedRequest> requests = FileRequests("ABC");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].hasRange);
    EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);
    EXPECT_FALSE(events->Has("changed ABC 4")) << events->Describe();
}

TEST_F(Downloads, AMissingDownloadFolderIsCreated)
{
    Add("ABC");
    const fs::path folder = scratch / "Later";
    ASSERT_TRUE(manager->SetDownloadFolder(folder.string()));
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    EXPECT_TRUE(fs::is_directory(folder));
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable));
    EXPECT_EQ(ReadFile(folder / "setup.exe"), Payload);

    // A folder that cannot be made (its parent takes no new entries): no job.
    const fs::path never = "/proc/quendal-downloads";
    ASSERT_TRUE(manager->SetDownloadFolder(never.string()));
    log.Clear();
    EXPECT_FALSE(manager->LaunchDownload(Key("ABC"), true));
    EXPECT_TRUE(log.HasLike("update_manager", "error", "Can't create download dir '\"" + never.string() + "\"'", ""))
        << log.Describe();
    EXPECT_FALSE(log.Contains(" Launch download for "));
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);
}

// The release moved on while its download ran: the completed download is
// checked against the new release at once.
TEST_F(Downloads, ACompletedDownloadOfAnOldReleaseIsRefreshed)
{
    Slow("ABC");
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilProgress());
    WriteFile(releases.ReleaseFile("ABC", "setup2.exe"), Payload);
    releases.SetMembers("ABC", "\"file\": \"setup2.exe\"");
    manager->AddProduct(Key("ABC"), "0.0");
    ASSERT_EQ(Product("ABC").installer.GetInstallerPath(), downloads / "setup.exe");
    events->Clear();

    ASSERT_TRUE(Tick([&] { return Status("ABC") != UpdateStatus::DownloadInProgress; }));
    EXPECT_EQ(Changes(), (std::vector<std::string>{"done ABC 100", "list", "changed ABC 2"}));
    EXPECT_TRUE(log.Has("update_manager", "info",
                        "State for product ABC (soft) switch from download in progress to update needed"));
    EXPECT_EQ(Product("ABC").installer.GetInstallerPath(), downloads / "setup2.exe");
    EXPECT_TRUE(fs::exists(downloads / "setup.exe.confirm"));
}

// Two products whose installers have one file name: while one downloads,
// the other may not start a job into the same file.
TEST_F(Downloads, TwoJobsNeverWriteOneFile)
{
    const std::string other = DownloadPayload(150000, 9);
    Slow("B");
    releases.AddRelease("A", "setup.exe", other);
    Add("B");
    manager->AddProduct(Key("A"), "0.0");
    ASSERT_EQ(Product("A").installer.GetInstallerPath(), Product("B").installer.GetInstallerPath());

    ASSERT_TRUE(manager->LaunchDownload(Key("B"), false));
    ASSERT_TRUE(TickUntilProgress());
    log.Clear();
    EXPECT_FALSE(manager->LaunchDownload(Key("A"), false));
    EXPECT_FALSE(manager->LaunchDownload(Key("A"), true));
    EXPECT_EQ(
        log.Count("warning",
                  " Attempt to launch download for A (soft/A) but B (soft/B) is busy with the same installer file"),
        2)
        << log.Describe();
    EXPECT_TRUE(fs::exists(downloads / "setup.exe"));
    ASSERT_TRUE(TickUntilStatus("B", UpdateStatus::InstallerAvailable));
    EXPECT_EQ(Status("A"), UpdateStatus::UpdateNeeded);
    EXPECT_EQ(ReadFile(downloads / "setup.exe"), Payload);
    EXPECT_TRUE(FileRequests("A").empty());
}

TEST_F(Downloads, DestroyingTheManagerDuringADownloadKeepsThePartialFile)
{
    releases.Server().SetFault(ReleaseServer::FilePath("ABC", "setup.exe"),
                               Fault::Trickle(1024, std::chrono::milliseconds(20)));
    Add("ABC");
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilProgress());
    Stop();
    EXPECT_TRUE(log.Has("update_manager", "info", " Terminate UpdateManager"));
    const int64_t onDisk = FileSizeOf(downloads / "setup.exe");
    EXPECT_GT(onDisk, 0);
    EXPECT_LT(onDisk, static_cast<int64_t>(Payload.size()));
    EXPECT_FALSE(fs::exists(downloads / "setup.exe.confirm"));
}
