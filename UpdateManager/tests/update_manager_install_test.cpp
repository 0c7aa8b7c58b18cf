// The update manager's installs: the whole road from the SKU to the refresh
// after the install, with real script installers downloaded from the test
// server into a scratch Downloads folder and run on the install thread.

#include "UpdateManager/UpdateManager.h"
#include "testsupport/EngineHarness.h"
#include "testsupport/ScriptInstaller.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = boost::filesystem;
using namespace Quendal::Testing;
using Quendal::UpdateManager::ProductChangedEvent;
using Quendal::UpdateManager::ProductKey;
using Quendal::UpdateManager::UpdateStatus;

namespace {

class Installs : public EngineTest {
protected:
    // A release of `sku` whose installer `file` is a script that records its
    // arguments, registered with `localVersion`.
    void AddInstaller(const ProductKey& key, int exitCode = 0, const std::string& localVersion = "0.0",
                      const std::string& members = std::string(), const std::string& file = "setup.exe")
    {
        WriteScriptInstaller(releases.ReleaseFile(key.sku, file), {key.sku, exitCode, record, gate, false});
        releases.SetMembers(key.sku, members);
        if (!manager)
            Start();
        manager->AddProduct(key, localVersion);
    }

    // Installs on "installer available", once.
    void InstallWhenAvailable(bool silent, const std::function<void()>& before = {})
    {
        auto done = std::make_shared<bool>(false);
        events->onChanged = [this, silent, before, done](const ProductChangedEvent& event) {
            if (*done || manager->GetProduct(event.key).installer.GetStatus() != UpdateStatus::InstallerAvailable)
                return;
            *done = true;
            if (before)
                before();
            manager->LaunchInstaller(event.key, silent);
        };
    }

    bool InstallerStarted(const std::string& name)
    {
        return WaitUntil([&] {
            const std::vector<std::string> lines = ReadLines(record);
            return !lines.empty() && lines[0].rfind("start " + name, 0) == 0;
        });
    }

    // The events from `from` on, without the download's progress.
    std::vector<std::string> EventsFrom(const std::string& from) const
    {
        std::vector<std::string> tail;
        const int start = events->IndexOf(from);
        if (start < 0)
            return tail;
        for (std::size_t i = static_cast<std::size_t>(start); i < events->Events().size(); ++i) {
            if (events->Events()[i].rfind("progress ", 0) != 0)
                tail.push_back(events->Events()[i]);
        }
        return tail;
    }

    fs::path record = scratch / "record.txt";
    fs::path gate;
};

} // namespace

TEST_F(Installs, TheSilentRoadFromTheSkuToTheRefresh)
{
    AddInstaller(Key("ABC"));
    ActLikeTheApplication();
    const auto application = events->onChanged;
    bool confirmAtSix = false;
    events->onChanged = [&](const ProductChangedEvent& event) {
        if (Status("ABC") == UpdateStatus::InstallerAvailable)
            confirmAtSix = fs::exists(downloads / "setup.exe.confirm");
        application(event);
    };
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), true));
    ASSERT_TRUE(TickUntilEvent("finished ABC 0")) << events->Describe() << log.Describe();

    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start ABC 1", "arg /SILENT", "end ABC"}));
    EXPECT_TRUE(confirmAtSix);
    const std::vector<std::string> road = EventsFrom("changed ABC 2");
    const std::vector<std::string> expected = {
        "changed ABC 2", "list",                            // AddProduct
        "done ABC 100",  "changed ABC 6",                   // downloaded; the listener installs
        "changed ABC 8",                                    // queued on the install thread
        "changed ABC 9", "changed ABC 2",                   // installed; the listener resets
        "changed ABC 2", "list",          "finished ABC 0", // collected and refreshed
    };
    // Should the install end between a tick's step and its collection, the
    // collection reports 9 first and the listener resets there.
    const std::vector<std::string> collectedFirst = {
        "changed ABC 2", "list",          "done ABC 100", "changed ABC 6",
        "changed ABC 8", "changed ABC 9", "list",         "finished ABC 0",
    };
    EXPECT_TRUE(road == expected || road == collectedFirst) << events->Describe();

    EXPECT_TRUE(log.Has("update_manager", "info", "Stop download for ABC (ABC)")) << log.Describe();
    EXPECT_TRUE(log.Has("update_manager", "info", " Launch download for ABC (soft/ABC)"));
    EXPECT_TRUE(log.Has("update_manager", "info", "Launch download for ABC (ABC)"));
    EXPECT_TRUE(log.Has("update_manager", "info",
                        "State for product ABC (soft) switch from installer start to install in progress"));
    EXPECT_TRUE(
        log.Has("update_manager", "info",
                "Installation of ABC" + (downloads / "setup.exe").string() + " complete with status install complete"))
        << log.Describe();
    EXPECT_TRUE(log.Has("update_manager", "notice", "Install of product 'soft/ABC' failed or was cancelled"));
    EXPECT_EQ(log.Count("info", "switch from install in progress"), 0);

    EXPECT_FALSE(fs::exists(downloads / "setup.exe"));
    EXPECT_FALSE(fs::exists(downloads / "setup.exe.confirm"));
    EXPECT_EQ(Status("ABC"), UpdateStatus::UpdateNeeded);
    EXPECT_EQ(Product("ABC").description.localVersion, "not_installed");
    const std::vector<testserver::RecordedRequest> files = releases.FileRequests("ABC", "setup.exe");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_FALSE(files[0].hasRange);
}

// The install thread's moves out of "install in progress" are not changes of
// the step: ProcessCompletedInstall reports them.
TEST_F(Installs, EachInstallOutcomeIsCollected)
{
    struct Case {
        const char* sku;
        int exitCode;
        bool vanish;
        const char* runStatus;
        UpdateStatus refreshed;
        std::vector<std::string> record;
    };
    const Case cases[] = {
        {"ZERO", 0, false, "install complete", UpdateStatus::InstallerAvailable, {"start ZERO 0", "end ZERO"}},
        {"THREE", 3, false, "error", UpdateStatus::InstallerAvailable, {"start THREE 0", "end THREE"}},
        {"GONE", 0, true, "update needed", UpdateStatus::UpdateNeeded, {}},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sku);
        fs::remove(record);
        log.Clear();
        AddInstaller(Key(c.sku), c.exitCode, "0.0", "", std::string(c.sku) + ".exe");
        const fs::path installer = Product(c.sku).installer.GetInstallerPath();
        InstallWhenAvailable(false, [&] {
            if (c.vanish)
                fs::remove(installer);
        });
        ASSERT_TRUE(manager->LaunchDownload(Key(c.sku), false));
        const std::string sku = c.sku;
        ASSERT_TRUE(TickUntilEvent("finished " + sku + " 0")) << events->Describe() << log.Describe();

        EXPECT_EQ(ReadLines(record), c.record);
        EXPECT_TRUE(log.Has("update_manager", "info",
                            "Installation of " + sku + installer.string() + " complete with status " + c.runStatus))
            << log.Describe();
        EXPECT_TRUE(
            log.Has("update_manager", "notice", "Install of product 'soft/" + sku + "' failed or was cancelled"));
        EXPECT_EQ(log.Count("info", "switch from install in progress"), 0) << log.Describe();
        EXPECT_EQ(Status(c.sku), c.refreshed);

        std::vector<std::string> tail = EventsFrom("changed " + sku + " 8");
        ASSERT_FALSE(tail.empty()) << events->Describe();
        tail.erase(tail.begin());
        if (c.exitCode == 0 && !c.vanish) {
            // "install complete" on every step until it is collected.
            while (tail.size() > 3 && tail.front() == "changed " + sku + " 9")
                tail.erase(tail.begin());
            EXPECT_EQ(tail, (std::vector<std::string>{"changed " + sku + " 9", "list", "finished " + sku + " 0"}));
        } else {
            const std::string collected = c.vanish ? " 2" : " 11";
            EXPECT_EQ(tail, (std::vector<std::string>{"changed " + sku + collected, "list", "finished " + sku + " 0"}));
        }
    }
}

TEST_F(Installs, InstallCompleteIsReportedOnEveryStep)
{
    AddInstaller(Key("ABC"));
    events->Clear();
    manager->ProcessCompletedInstall();
    EXPECT_TRUE(events->Events().empty());

    Product("ABC").installer.SetStatus(UpdateStatus::InstallComplete);
    for (int i = 0; i < 3; ++i)
        manager->UpdateProductStates();
    EXPECT_EQ(events->Events(), (std::vector<std::string>(3, "changed ABC 9")));
    EXPECT_EQ(log.Count("info", "State for product"), 0);

    // A listener's reset during that event is a change of the same step.
    events->Clear();
    events->onChanged = [&](const ProductChangedEvent& event) {
        if (Status("ABC") == UpdateStatus::InstallComplete)
            manager->ResetProduct(event.key);
    };
    manager->UpdateProductStates();
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"changed ABC 9", "changed ABC 2"}));
    EXPECT_TRUE(log.Has("update_manager", "info",
                        "State for product ABC (soft) switch from install complete to update needed"));
}

// While an installer runs, its file stays: no reset, no new download into it.
TEST_F(Installs, AnInstallUnderWayKeepsItsFile)
{
    gate = scratch / "gate";
    AddInstaller(Key("ABC"));
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallerAvailable));
    const fs::path installer = downloads / "setup.exe";
    const std::vector<std::string> files = FolderListing(downloads);

    ASSERT_TRUE(manager->LaunchInstaller(Key("ABC"), true));
    for (const char* status : {"installer start", "install in progress"}) {
        SCOPED_TRACE(status);
        log.Clear();
        EXPECT_FALSE(manager->ResetProduct(Key("ABC")));
        EXPECT_FALSE(manager->LaunchDownload(Key("ABC"), true));
        EXPECT_TRUE(log.Has("update_manager", "warning",
                            std::string(" Attempt to reset ABC (soft/ABC) but status is ") + status))
            << log.Describe();
        EXPECT_TRUE(log.Has("update_manager", "warning",
                            std::string(" Attempt to launch download for ABC (soft/ABC) but status is ") + status));
        EXPECT_FALSE(log.Contains("Stop download for"));
        EXPECT_EQ(FolderListing(downloads), files);
        if (Status("ABC") == UpdateStatus::InstallerStart) {
            manager->UpdateProductStates();
            ASSERT_EQ(Status("ABC"), UpdateStatus::InstallInProgress);
            ASSERT_TRUE(InstallerStarted("ABC"));
        }
    }
    EXPECT_EQ(releases.FileRequests("ABC", "setup.exe").size(), 1u);

    WriteFile(gate, "");
    ASSERT_TRUE(TickUntilEvent("finished ABC 0"));
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start ABC 1", "arg /SILENT", "end ABC"}));
    EXPECT_TRUE(log.Contains("complete with status install complete")) << log.Describe();
}

// Two products with one installer file name: the installer that comes back
// is its own product's, not the first one with that path.
TEST_F(Installs, ACollectedInstallerFindsItsOwnProduct)
{
    AddInstaller(Key("B"));
    AddInstaller(Key("A"));
    ASSERT_EQ(Product("A").installer.GetInstallerPath(), Product("B").installer.GetInstallerPath());
    InstallWhenAvailable(true);
    ASSERT_TRUE(manager->LaunchDownload(Key("B"), false));
    ASSERT_TRUE(Tick([&] { return events->Has("finished B 0") || events->Has("finished A 0"); })) << events->Describe();

    EXPECT_TRUE(events->Has("finished B 0")) << events->Describe();
    EXPECT_FALSE(events->Has("finished A 0"));
    EXPECT_EQ(events->Count("changed A 2"), 1) << events->Describe(); // its registration only
    EXPECT_TRUE(
        log.Has("update_manager", "info",
                "Installation of B" + (downloads / "setup.exe").string() + " complete with status install complete"))
        << log.Describe();
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start B 1", "arg /SILENT", "end B"}));
}

// The outcome is the install's own, also when the listener reset the product
// before it was collected.
TEST_F(Installs, ASuccessfulInstallIsReportedAsSuccess)
{
    const ProductKey key("FW", "firmware");
    AddInstaller(key, 0, "1.0", "\"version\": \"2.0\"");
    ASSERT_EQ(manager->GetProduct(key).installer.GetStatus(), UpdateStatus::UpdateNeeded);
    ActLikeTheApplication();
    const auto application = events->onChanged;
    events->onChanged = [&](const ProductChangedEvent& event) {
        // Once installed, the service's latest release is the local one.
        if (manager->GetProduct(key).installer.GetStatus() == UpdateStatus::InstallInProgress)
            releases.SetMembers(key.sku, "\"version\": \"1.0\"");
        application(event);
    };
    ASSERT_TRUE(manager->LaunchDownload(key, true));
    ASSERT_TRUE(Tick([&] { return events->Has("finished FW 1") || events->Has("finished FW 0"); }))
        << events->Describe();

    EXPECT_TRUE(events->Has("finished FW 1")) << events->Describe() << log.Describe();
    EXPECT_EQ(manager->GetProduct(key).installer.GetStatus(), UpdateStatus::UpToDate);
    EXPECT_TRUE(log.Has("update_manager", "notice", "Install of product 'firmware/FW' succeeded")) << log.Describe();
}

TEST_F(Installs, TheStepContainsEachProduct)
{
    AddInstaller(Key("A"));
    AddInstaller(Key("B"));
    Product("A").installer.SetStatus(UpdateStatus::InstallComplete);
    Product("B").installer.SetStatus(UpdateStatus::InstallComplete);
    events->Clear();
    events->onChanged = [](const ProductChangedEvent& event) {
        if (event.key.sku == "A")
            throw std::runtime_error("listener failed");
    };
    EXPECT_NO_THROW(manager->UpdateProductStates());
    EXPECT_EQ(events->Events(), (std::vector<std::string>{"changed A 9", "changed B 9"}));
    EXPECT_TRUE(log.Has("update_manager", "error", "State step failed for A (soft): listener failed"))
        << log.Describe();
}

TEST_F(Installs, DestroyingTheManagerDuringAnInstallWaitsForTheInstaller)
{
    gate = scratch / "gate";
    AddInstaller(Key("ABC"));
    InstallWhenAvailable(true);
    ASSERT_TRUE(manager->LaunchDownload(Key("ABC"), false));
    ASSERT_TRUE(TickUntilStatus("ABC", UpdateStatus::InstallInProgress));
    ASSERT_TRUE(InstallerStarted("ABC"));

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        Stop();
        destroyed = true;
    });
    WriteFile(gate, "");
    destroyer.join();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start ABC 1", "arg /SILENT", "end ABC"}));
    EXPECT_TRUE(fs::exists(downloads / "setup.exe"));
}
