// The download worker thread and its queue.

#include "UpdateManager/ActiveDownloader.h"
#include "UpdateManager/BlockingQueue.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using Quendal::Testing::LogCapture;
using Quendal::Testing::LogLine;
using Quendal::UpdateManager::ActiveDownloader;
using Quendal::UpdateManager::BlockingQueue;

namespace {

constexpr auto Patience = std::chrono::seconds(20);

// What the tasks of one test did, in order.
class Journal {
public:
    void Add(const std::string& entry)
    {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> Entries()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }

private:
    std::mutex mutex;
    std::vector<std::string> entries;
};

} // namespace

TEST(DownloadBlockingQueue, TryPopOnEmptyLeavesItsArgumentAndEmptyIsTrue)
{
    BlockingQueue<int> queue;
    int out = 42;
    EXPECT_FALSE(queue.TryPop(out));
    EXPECT_EQ(out, 42);
    EXPECT_TRUE(queue.Empty());

    queue.Push(1);
    queue.Push(2);
    EXPECT_FALSE(queue.Empty());
    ASSERT_TRUE(queue.TryPop(out));
    EXPECT_EQ(out, 1);
    ASSERT_TRUE(queue.TryPop(out));
    EXPECT_EQ(out, 2);
    EXPECT_TRUE(queue.Empty());
    EXPECT_FALSE(queue.TryPop(out));
    EXPECT_EQ(out, 2);
}

TEST(DownloadBlockingQueue, WaitAndPopBlocksUntilAnotherThreadPushes)
{
    BlockingQueue<int> queue;
    std::atomic<bool> pushed{false};
    std::promise<void> waiting;
    std::thread consumer([&] {
        waiting.set_value();
        int value = 0;
        queue.WaitAndPop(value);
        EXPECT_TRUE(pushed.load());
        EXPECT_EQ(value, 7);
    });
    waiting.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pushed = true;
    queue.Push(7);
    consumer.join();
    EXPECT_TRUE(queue.Empty());
}

class DownloadWorker : public ::testing::Test {
protected:
    LogCapture log{{"download"}};
};

TEST_F(DownloadWorker, RunsTasksOneAtATimeInPostingOrder)
{
    Journal journal;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::promise<void> last;
    {
        std::unique_ptr<ActiveDownloader> worker = ActiveDownloader::Create("soft/ORDER");
        for (int i = 1; i <= 3; ++i) {
            worker->Post([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                journal.Add("task " + std::to_string(i));
                running.fetch_sub(1);
            });
        }
        worker->Post([&] { last.set_value(); });
        // Taken while the worker runs, not only at destruction.
        ASSERT_EQ(last.get_future().wait_for(Patience), std::future_status::ready);
        EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"task 1", "task 2", "task 3"}));
    }
    EXPECT_FALSE(overlapped.load());
    EXPECT_TRUE(log.Contains("ActiveDownloader Start Threadsoft/ORDER"));
    EXPECT_TRUE(log.Contains("ActiveDownloader Exit Threadsoft/ORDER"));
    for (const LogLine& line : log.Find("ActiveDownloader")) {
        EXPECT_EQ(line.category, "download") << line;
        EXPECT_EQ(line.level, "debug") << line;
    }
}

TEST_F(DownloadWorker, DestructionRunsQueuedTasksBeforeTheExitLineAndReturnsAfterThem)
{
    Journal journal;
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::unique_ptr<ActiveDownloader> worker = ActiveDownloader::Create("soft/DRAIN");
    worker->Post([&, opened] {
        opened.wait();
        journal.Add("blocked");
    });
    worker->Post([&] { journal.Add("queued 1"); });
    worker->Post([&] { journal.Add("queued 2"); });

    std::atomic<bool> destroyed{false};
    std::thread owner([&] {
        worker.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(destroyed.load()) << "the destructor must wait for the running task";
    gate.set_value();
    owner.join();

    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"blocked", "queued 1", "queued 2"}));
    EXPECT_GE(log.IndexOf("ActiveDownloader Exit Threadsoft/DRAIN"), 0);
}

TEST_F(DownloadWorker, IdleWorkerAndWorkerNeverStartedAreDestroyedAtOnce)
{
    {
        std::unique_ptr<ActiveDownloader> idle = ActiveDownloader::Create("soft/IDLE");
    }
    EXPECT_TRUE(log.Contains("ActiveDownloader Exit Threadsoft/IDLE"));

    // Built without Create: no thread, nothing to join.
    {
        ActiveDownloader never("soft/NEVER");
        never.Post([] {});
    }
    EXPECT_FALSE(log.Contains("soft/NEVER"));
}

TEST_F(DownloadWorker, EmptyTaskIsSkippedAndTheNextOneRuns)
{
    std::promise<void> ran;
    std::unique_ptr<ActiveDownloader> worker = ActiveDownloader::Create("soft/EMPTY");
    worker->Post(ActiveDownloader::Task());
    worker->Post([&] { ran.set_value(); });
    EXPECT_EQ(ran.get_future().wait_for(Patience), std::future_status::ready);
}

TEST_F(DownloadWorker, SurvivesThrowingTasksAndLogsThem)
{
    Journal journal;
    {
        std::unique_ptr<ActiveDownloader> worker = ActiveDownloader::Create("soft/THROW");
        worker->Post([] { throw std::runtime_error("disk on fire"); });
        worker->Post([&] { journal.Add("after std exception"); });
        worker->Post([] { throw 42; });
        worker->Post([&] { journal.Add("after other exception"); });
    }
    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"after std exception", "after other exception"}));
    const std::vector<LogLine> failures = log.Find("task failed");
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].category, "download") << failures[0];
    EXPECT_EQ(failures[0].level, "error") << failures[0];
    EXPECT_NE(failures[0].message.find("soft/THROW"), std::string::npos) << failures[0];
    EXPECT_NE(failures[0].message.find("disk on fire"), std::string::npos) << failures[0];
    EXPECT_NE(failures[1].message.find("unknown exception"), std::string::npos) << failures[1];
    EXPECT_GE(log.IndexOf("ActiveDownloader Exit Threadsoft/THROW"), 0);
}

TEST_F(DownloadWorker, WorkersOfDifferentProductsRunInParallel)
{
    std::promise<void> secondRan;
    std::shared_future<void> second = secondRan.get_future().share();
    std::atomic<bool> firstSawSecond{false};
    {
        std::unique_ptr<ActiveDownloader> a = ActiveDownloader::Create("soft/A");
        std::unique_ptr<ActiveDownloader> b = ActiveDownloader::Create("soft/B");
        a->Post([&, second] { firstSawSecond = second.wait_for(Patience) == std::future_status::ready; });
        b->Post([&] { secondRan.set_value(); });
    }
    EXPECT_TRUE(firstSawSecond.load());
}
