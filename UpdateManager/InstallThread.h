#pragma once
// The process-wide worker that runs installers one at a time.

#include "Common/Singleton.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <deque>
#include <thread>

namespace Quendal {
namespace UpdateManager {

class Installer;

class InstallThread : public CSingleton<InstallThread> {
public:
    static constexpr std::size_t QueueCapacity = 32;

    // Starts the thread once the object is complete.
    InstallThread();
    // Stops the thread as Stop does.
    ~InstallThread() override;
    InstallThread(const InstallThread&) = delete;
    InstallThread& operator=(const InstallThread&) = delete;

    // Sets the stop flag and joins the thread. The thread reads the flag only
    // between drains: a drain under way runs to its end (every record queued
    // before the queue ran empty, each installer until it exits), then the
    // thread sleeps out its 500 ms, reads the flag and ends. Records queued
    // after the drain ran empty are never run, and finished records that did
    // not fit the finished queue are never handed back. The engine stops the
    // thread only by destroying it.
    void Stop();

    // Engine's thread only (single producer). Queues a borrowed record;
    // false when the queue is full (the record is not queued). Null: nothing,
    // true.
    bool Enqueue(Installer* installer);

    // Engine's thread only (single consumer).
    bool HasFinished() const;
    // The oldest finished record, or null.
    Installer* PopFinished();

private:
    // Body of the install thread.
    void Run();

    using Queue = boost::lockfree::spsc_queue<Installer*, boost::lockfree::capacity<QueueCapacity>>;

    // Hands finished records over in order, as far as the finished queue
    // takes them; the rest wait for the next try.
    void HandOver(std::deque<Installer*>& finished);

    std::thread thread;
    std::atomic<bool> stop;
    Queue requestQueue;
    Queue finishedQueue;
};

// Stops the process-wide install thread (creating it first when none exists).
// Part of the design's interface; nothing calls it.
void StopInstallThread();

} // namespace UpdateManager
} // namespace Quendal
