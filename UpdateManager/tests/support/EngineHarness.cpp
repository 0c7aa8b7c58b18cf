#include "UpdateManager/tests/support/EngineHarness.h"

#include "platform/KnownFolders.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

namespace fs = boost::filesystem;
namespace UM = Quendal::UpdateManager;

namespace Quendal {
namespace Testing {

const std::vector<std::string> EngineLogCategories = {"update_manager", "download", "install", "web", "description"};

ReleaseServer::ReleaseServer()
{
    server.SetReleaseFolder(releases.Path().string());
    server.Start();
}

ReleaseServer::~ReleaseServer()
{
    server.Stop();
}

void ReleaseServer::AddRelease(const std::string& sku, const std::string& file, const std::string& content,
                               const std::string& members)
{
    WriteFile(ReleaseFile(sku, file), content);
    SetMembers(sku, members);
}

void ReleaseServer::SetMembers(const std::string& sku, const std::string& members)
{
    fs::create_directories(releases / sku);
    // The service always names a site link; the generated resource has none.
    const std::string siteLink = "\"resources_site_link\": \"http://site.example/" + sku + "\"";
    WriteFile(releases / sku / "release.json", "{" + siteLink + (members.empty() ? "" : ", " + members) + "}");
}

fs::path ReleaseServer::ReleaseFile(const std::string& sku, const std::string& file) const
{
    fs::create_directories(releases / sku);
    return releases / sku / file;
}

std::string ReleaseServer::Host() const
{
    return "127.0.0.1:" + std::to_string(server.Port());
}

std::string ReleaseServer::FilePath(const std::string& sku, const std::string& file)
{
    return "/releases/" + sku + "/" + file;
}

std::vector<testserver::RecordedRequest> ReleaseServer::FileRequests(const std::string& sku,
                                                                     const std::string& file) const
{
    return server.RequestsFor(FilePath(sku, file));
}

EventRecorder::EventRecorder(UM::UpdateManager& manager)
    : manager(manager)
{
    manager.AddListener(static_cast<IEventListener<UM::ProductListChangedEvent>*>(this));
    manager.AddListener(static_cast<IEventListener<UM::ProductChangedEvent>*>(this));
    manager.AddListener(static_cast<IEventListener<UM::DownloadProgressEvent>*>(this));
    manager.AddListener(static_cast<IEventListener<UM::InstallFinishedEvent>*>(this));
}

EventRecorder::~EventRecorder()
{
    manager.RemoveListener(static_cast<IEventListener<UM::ProductListChangedEvent>*>(this));
    manager.RemoveListener(static_cast<IEventListener<UM::ProductChangedEvent>*>(this));
    manager.RemoveListener(static_cast<IEventListener<UM::DownloadProgressEvent>*>(this));
    manager.RemoveListener(static_cast<IEventListener<UM::InstallFinishedEvent>*>(this));
}

void EventRecorder::OnEvent(const UM::ProductListChangedEvent&)
{
    events.push_back("list");
}

void EventRecorder::OnEvent(const UM::ProductChangedEvent& event)
{
    std::string status = "?";
    try {
        status = std::to_string(static_cast<int>(manager.GetProduct(event.key).installer.GetStatus()));
    } catch (const std::out_of_range&) {
    }
    events.push_back("changed " + event.key.sku + " " + status);
    if (onChanged)
        onChanged(event);
}

void EventRecorder::OnEvent(const UM::DownloadProgressEvent& event)
{
    if (event.completed) {
        std::ostringstream text;
        text << "done " << event.key.sku << " " << event.progress;
        events.push_back(text.str());
        return;
    }
    events.push_back("progress " + event.key.sku);
    progress.push_back(event.progress);
}

void EventRecorder::OnEvent(const UM::InstallFinishedEvent& event)
{
    events.push_back("finished " + event.key.sku + (event.success ? " 1" : " 0"));
}

int EventRecorder::Count(const std::string& event) const
{
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

int EventRecorder::IndexOf(const std::string& event, int from) const
{
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < events.size(); ++i) {
        if (events[i] == event)
            return static_cast<int>(i);
    }
    return -1;
}

void EventRecorder::Clear()
{
    events.clear();
    progress.clear();
}

std::string EventRecorder::Describe() const
{
    std::string text;
    for (const std::string& event : events)
        text += event + "\n";
    return text;
}

bool TickUntil(UM::UpdateManager& manager, const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        manager.UpdateProductStates();
        manager.ProcessCompletedInstall();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

DownloadsFolder::DownloadsFolder(const fs::path& folder)
{
    platform::testing::OverrideKnownFolder(platform::KnownFolderId::Downloads, folder.string());
}

DownloadsFolder::~DownloadsFolder()
{
    platform::testing::ClearKnownFolderOverrides();
}

std::vector<std::string> FolderListing(const fs::path& root)
{
    std::vector<std::string> listing;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        const std::string relative = it->path().string().substr(root.string().size());
        if (fs::is_directory(it->symlink_status()))
            listing.push_back(relative + "/");
        else
            listing.push_back(relative + " " + std::to_string(FileSizeOf(it->path())));
    }
    std::sort(listing.begin(), listing.end());
    return listing;
}

EngineTest::EngineTest()
    : downloads(scratch / "Downloads")
    , downloadsFolder(downloads)
    , log(EngineLogCategories)
{
    fs::create_directories(downloads);
}

EngineTest::~EngineTest()
{
    Stop();
}

UM::UpdateManager& EngineTest::Start(const std::string& scannerDefinitionFile)
{
    return StartOn(releases.Host(), scannerDefinitionFile);
}

UM::UpdateManager& EngineTest::StartOn(const std::string& serverText, const std::string& scannerDefinitionFile)
{
    Stop();
    manager = std::make_unique<UM::UpdateManager>(scannerDefinitionFile, serverText, "windows");
    events = std::make_unique<EventRecorder>(*manager);
    return *manager;
}

void EngineTest::Stop()
{
    events.reset();
    manager.reset();
}

void EngineTest::ActLikeTheApplication(int times)
{
    auto acted = std::make_shared<std::map<std::pair<std::string, int>, int>>();
    events->onChanged = [this, times, acted](const UM::ProductChangedEvent& event) {
        const UM::UpdateStatus status = manager->GetProduct(event.key).installer.GetStatus();
        int& count = (*acted)[{event.key.sku, static_cast<int>(status)}];
        if (count >= times)
            return;
        switch (status) {
        case UM::UpdateStatus::InstallerAvailable:
            ++count;
            manager->LaunchInstaller(event.key, true);
            break;
        case UM::UpdateStatus::DownloadPaused:
            ++count;
            manager->LaunchDownload(event.key, false);
            break;
        case UM::UpdateStatus::InstallComplete:
            ++count;
            manager->ResetProduct(event.key);
            break;
        default:
            break;
        }
    };
}

} // namespace Testing
} // namespace Quendal
