// The install thread: installers one at a time, in order, with real
// shell-script installers that record their runs.

#include "UpdateManager/InstallThread.h"
#include "UpdateManager/Installer.h"
#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"
#include "testsupport/ScriptInstaller.h"
#include "testsupport/Wait.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>

namespace fs = boost::filesystem;
using Quendal::UpdateManager::Installer;
using Quendal::UpdateManager::InstallThread;
using Quendal::UpdateManager::UpdateStatus;
using namespace Quendal::Testing;

namespace {

class InstallThreadTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Never leave an installer waiting: the destructor waits for it.
        for (const fs::path& gate : gates)
            WriteFile(gate, "");
        CSingleton<InstallThread>::DestroyInstance();
    }

    // A record in "install in progress" for a script installer that exits
    // with `exitCode`; with `gated` it waits for Open(name) before it ends.
    Installer& Add(const std::string& name, int exitCode = 0, bool gated = false)
    {
        const fs::path path = scratch / (name + ".exe");
        ScriptInstaller script{name, exitCode, record, {}, false};
        if (gated) {
            script.gate = scratch / (name + ".gate");
            gates.push_back(script.gate);
        }
        WriteScriptInstaller(path, script);
        records.emplace_back("http://downloads.example/" + name + ".exe", path, UpdateStatus::Unknown);
        Installer& installer = records.back();
        installer.SetSilent(true);
        installer.SetStatus(UpdateStatus::InstallInProgress);
        return installer;
    }

    void Open(const std::string& name) { WriteFile(scratch / (name + ".gate"), ""); }

    // The kernel id of the install thread, from the thread field of its first line.
    std::string InstallThreadId() const
    {
        for (const std::string& line : log.RawLines()) {
            if (line.find("| Start install thread") == std::string::npos)
                continue;
            const std::size_t start = line.find(" | ") + 3;
            const std::size_t end = line.find(' ', start);
            return line.substr(start, end - start);
        }
        return "none";
    }

    bool Recorded(const std::string& line) const
    {
        const std::vector<std::string> lines = ReadLines(record);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool WaitForLine(const std::string& line) const
    {
        return WaitUntil([&] { return Recorded(line); });
    }

    // Collects `count` finished records (polling as the engine does).
    std::vector<Installer*> Collect(InstallThread& thread, std::size_t count)
    {
        std::vector<Installer*> finished;
        WaitUntil([&] {
            while (thread.HasFinished())
                finished.push_back(thread.PopFinished());
            return finished.size() >= count;
        });
        return finished;
    }

    LogCapture log{{"install"}}; // before the thread starts, gone after it is joined
    ScratchFolder scratch;
    fs::path record = scratch / "record.txt";
    std::deque<Installer> records; // stable addresses
    std::vector<fs::path> gates;
};

TEST_F(InstallThreadTest, StartsIdleAndStops)
{
    InstallThread* thread = CSingleton<InstallThread>::GetInstance();
    EXPECT_TRUE(log.WaitFor("Start install thread"));
    EXPECT_TRUE(log.Has("install", "info", "Start install thread")) << log.Describe();
    EXPECT_FALSE(thread->HasFinished());
    EXPECT_EQ(thread->PopFinished(), nullptr);
    EXPECT_TRUE(thread->Enqueue(nullptr));

    const auto start = std::chrono::steady_clock::now();
    CSingleton<InstallThread>::DestroyInstance();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(log.Find("Start install thread").size(), 1u);
}

TEST_F(InstallThreadTest, RunsInstallersOneAtATimeInOrder)
{
    Installer& first = Add("first", 0, true);
    Installer& second = Add("second", 3);
    Installer& third = Add("third");
    fs::remove(third.GetInstallerPath()); // deleted before its run

    InstallThread* thread = CSingleton<InstallThread>::GetInstance();
    ASSERT_TRUE(thread->Enqueue(&first));
    ASSERT_TRUE(thread->Enqueue(nullptr));
    ASSERT_TRUE(thread->Enqueue(&second));
    ASSERT_TRUE(thread->Enqueue(&third));

    ASSERT_TRUE(WaitForLine("start first 1"));
    // No event marks a start that must not happen: a pause gives it the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(Recorded("start second 1")) << "the second installer started while the first ran";
    EXPECT_EQ(first.GetStatus(), UpdateStatus::InstallInProgress);
    EXPECT_EQ(first.GetProgress(), -1.0);
    EXPECT_FALSE(thread->HasFinished());

    Open("first");
    const std::vector<Installer*> finished = Collect(*thread, 3);
    EXPECT_EQ(finished, (std::vector<Installer*>{&first, &second, &third}));
    EXPECT_EQ(first.GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_EQ(second.GetStatus(), UpdateStatus::Error);
    EXPECT_EQ(third.GetStatus(), UpdateStatus::UpdateNeeded);
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start first 1", "arg /SILENT", "end first",
                                                           "start second 1", "arg /SILENT", "end second"}));
    EXPECT_EQ(thread->PopFinished(), nullptr);
}

TEST_F(InstallThreadTest, LaunchQueuesOnTheProcessWideThread)
{
    Installer& installer = Add("launched");
    installer.SetSilent(false);
    EXPECT_TRUE(installer.Launch());
    InstallThread* thread = CSingleton<InstallThread>::GetInstance();
    EXPECT_EQ(Collect(*thread, 1), std::vector<Installer*>{&installer});
    EXPECT_EQ(installer.GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"start launched 0", "end launched"}));
}

TEST_F(InstallThreadTest, QueuesHoldThirtyTwoRecords)
{
    Installer& busy = Add("busy", 0, true);
    std::vector<Installer*> queued;
    for (int i = 0; i < 32; ++i)
        queued.push_back(&Add("queued" + std::to_string(i)));
    Installer& refused = Add("refused");
    Installer& launched = Add("launched");

    InstallThread* thread = CSingleton<InstallThread>::GetInstance();
    ASSERT_TRUE(thread->Enqueue(&busy));
    ASSERT_TRUE(WaitForLine("start busy 1")); // taken off the queue and running

    for (Installer* installer : queued)
        EXPECT_TRUE(thread->Enqueue(installer));
    EXPECT_FALSE(thread->Enqueue(&refused));
    EXPECT_EQ(refused.GetStatus(), UpdateStatus::InstallInProgress);

    // Launch on a full queue reports it instead of leaving the record waiting.
    EXPECT_FALSE(launched.Launch());
    EXPECT_EQ(launched.GetStatus(), UpdateStatus::Error);
    EXPECT_TRUE(log.Has("install", "error",
                        "Install queue is full; not running \"" + launched.GetInstallerPath().string() + "\""))
        << log.Describe();

    // 33 records finish while nobody collects; the finished queue holds 32,
    // and the last is handed over once there is room.
    Open("busy");
    ASSERT_TRUE(WaitForLine("end queued31"));
    ASSERT_TRUE(WaitUntil([&] { return queued.back()->GetStatus() == UpdateStatus::InstallComplete; }));
    std::vector<Installer*> expected{&busy};
    expected.insert(expected.end(), queued.begin(), queued.end());
    EXPECT_EQ(Collect(*thread, 33), expected);
    for (Installer* installer : expected)
        EXPECT_EQ(installer->GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_FALSE(Recorded("start refused 1"));
    EXPECT_FALSE(Recorded("start launched 1"));
}

TEST_F(InstallThreadTest, StopWaitsForQueuedInstallers)
{
    Installer& running = Add("running", 0, true);
    Installer& next = Add("next", 5);
    InstallThread* thread = CSingleton<InstallThread>::GetInstance();
    ASSERT_TRUE(thread->Enqueue(&running));
    ASSERT_TRUE(thread->Enqueue(&next));
    ASSERT_TRUE(WaitForLine("start running 1"));

    ASSERT_TRUE(log.WaitFor("Start install thread"));
    const std::string installThread = "/proc/self/task/" + InstallThreadId();
    ASSERT_TRUE(fs::exists(installThread));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        thread->Stop();
        stopped = true;
    });
    // Nothing shows that Stop is waiting rather than not yet called: a pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(stopped.load()) << "stop did not wait for the running installer";
    Open("running");
    stopper.join();

    EXPECT_TRUE(Recorded("end next"));
    EXPECT_EQ(running.GetStatus(), UpdateStatus::InstallComplete);
    EXPECT_EQ(next.GetStatus(), UpdateStatus::Error);
    EXPECT_EQ(Collect(*thread, 2), (std::vector<Installer*>{&running, &next}));

    // After the stop nothing runs any more: the install thread has ended.
    ASSERT_TRUE(WaitUntil([&] { return !fs::exists(installThread); })) << "the install thread runs on";
    Installer& late = Add("late");
    EXPECT_TRUE(thread->Enqueue(&late));
    EXPECT_FALSE(thread->HasFinished());
    EXPECT_FALSE(Recorded("start late 1"));
    EXPECT_EQ(late.GetStatus(), UpdateStatus::InstallInProgress);
}

} // namespace
