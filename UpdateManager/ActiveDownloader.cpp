#include "UpdateManager/ActiveDownloader.h"

#include "Common/Log.h"

#include <exception>
#include <utility>

namespace Quendal {
namespace UpdateManager {

std::unique_ptr<ActiveDownloader> ActiveDownloader::Create(const std::string& name)
{
    std::unique_ptr<ActiveDownloader> worker(new ActiveDownloader(name));
    worker->thread = std::thread(&ActiveDownloader::Run, worker.get());
    return worker;
}

ActiveDownloader::ActiveDownloader(const std::string& name)
    : name(name)
{
}

ActiveDownloader::~ActiveDownloader()
{
    if (!thread.joinable())
        return;
    Post([this] { Stop(); });
    thread.join();
}

void ActiveDownloader::Post(Task task)
{
    queue.Push(std::move(task));
}

void ActiveDownloader::Stop()
{
    done = true;
}

void ActiveDownloader::Run()
{
    Logger().Debug(LogCategory::Download, "ActiveDownloader Start Thread", name);
    while (!done) {
        Task task;
        queue.WaitAndPop(task);
        if (!task)
            continue;
        // A task that throws is dropped; the worker goes on with the next one.
        try {
            task();
        } catch (const std::exception& e) {
            Logger().Error(LogCategory::Download, "ActiveDownloader ", name, ": task failed: ", e.what());
        } catch (...) {
            Logger().Error(LogCategory::Download, "ActiveDownloader ", name, ": task failed with an unknown exception");
        }
    }
    Logger().Debug(LogCategory::Download, "ActiveDownloader Exit Thread", name);
}

} // namespace UpdateManager
} // namespace Quendal
