#include "UpdateManager/InstallThread.h"

#include "Common/Log.h"
#include "UpdateManager/Installer.h"

#include <chrono>
#include <exception>

namespace Quendal {
namespace UpdateManager {

InstallThread::InstallThread()
    : stop(false)
{
    thread = std::thread(&InstallThread::Run, this);
}

InstallThread::~InstallThread()
{
    Stop();
}

void InstallThread::Stop()
{
    stop = true;
    if (thread.joinable())
        thread.join();
}

bool InstallThread::Enqueue(Installer* installer)
{
    if (installer == nullptr)
        return true;
    return requestQueue.push(installer);
}

bool InstallThread::HasFinished() const
{
    return finishedQueue.read_available() > 0;
}

Installer* InstallThread::PopFinished()
{
    Installer* installer = nullptr;
    if (!finishedQueue.pop(installer))
        return nullptr;
    return installer;
}

void InstallThread::HandOver(std::deque<Installer*>& finished)
{
    while (!finished.empty() && finishedQueue.push(finished.front()))
        finished.pop_front();
}

void InstallThread::Run()
{
    Logger().Info(LogCategory::Install, "Start install thread");

    // Finished records the finished queue had no room for yet.
    std::deque<Installer*> finished;
    while (!stop.load()) {
        HandOver(finished);
        Installer* installer = nullptr;
        while (requestQueue.pop(installer)) {
            if (installer == nullptr)
                continue;
            try {
                installer->Run();
            } catch (const std::exception& e) {
                Logger().Error(LogCategory::Install, "Failed to run installer: ", e.what());
                installer->SetStatus(UpdateStatus::Error);
            } catch (...) {
                Logger().Error(LogCategory::Install, "Failed to run installer: unknown error");
                installer->SetStatus(UpdateStatus::Error);
            }
            finished.push_back(installer);
            HandOver(finished);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

void StopInstallThread()
{
    CSingleton<InstallThread>::GetInstance()->Stop();
}

} // namespace UpdateManager
} // namespace Quendal
