#pragma once
// A worker thread that runs the tasks posted to it one at a time, in posting
// order.

#include "UpdateManager/BlockingQueue.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Quendal {
namespace UpdateManager {

class ActiveDownloader {
public:
    using Task = std::function<void()>;

    // Builds the worker and starts its thread.
    static std::unique_ptr<ActiveDownloader> Create(const std::string& name);

    // The design's constructor: the engine makes workers only through
    // Create; one built here has no thread (tests build one so).
    explicit ActiveDownloader(const std::string& name);
    // Runs every task posted so far, then ends and joins the thread.
    virtual ~ActiveDownloader();

    ActiveDownloader(const ActiveDownloader&) = delete;
    ActiveDownloader& operator=(const ActiveDownloader&) = delete;

    // Any thread.
    void Post(Task task);

private:
    void Run();
    void Stop();

    const std::string name;
    BlockingQueue<Task> queue;
    std::thread thread;
    bool done = false; // worker thread only
};

} // namespace UpdateManager
} // namespace Quendal
