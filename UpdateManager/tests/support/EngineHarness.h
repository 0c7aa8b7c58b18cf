#pragma once
// Engine scenarios: a test server with a release folder, a scratch Downloads
// folder, recording listeners on the update manager's four event sources and
// a 50 ms tick driver.

#include "UpdateManager/UpdateManager.h"
#include "UpdateManager/tests/support/Files.h"
#include "UpdateManager/tests/support/LogCapture.h"
#include "UpdateManager/tests/support/ScratchFolder.h"

#include "testserver/TestServer.h"

#include <boost/filesystem/path.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// The test server with a release folder of its own: /api/resources/... and
// /releases/<SKU>/<file>.
class ReleaseServer {
public:
    ReleaseServer();
    ~ReleaseServer();

    // The release of `sku`: `content` as its installer file `file`, and the
    // extra resource members `members` (a JSON object's inner text, such as
    // "\"version\": \"2.0\""); a "resources_site_link" is always given.
    void AddRelease(const std::string& sku, const std::string& file, const std::string& content,
                    const std::string& members = std::string());
    // Only the resource members, no installer file.
    void SetMembers(const std::string& sku, const std::string& members);
    boost::filesystem::path ReleaseFile(const std::string& sku, const std::string& file) const;

    // "127.0.0.1:<port>", the engine's server text.
    std::string Host() const;
    static std::string FilePath(const std::string& sku, const std::string& file);
    std::vector<testserver::RecordedRequest> FileRequests(const std::string& sku, const std::string& file) const;

    testserver::TestServer& Server() { return server; }

private:
    ScratchFolder releases;
    testserver::TestServer server;
};

// Every event of the four sources as one text, in order of arrival:
//   "list", "changed SKU <status>", "progress SKU", "done SKU <progress>",
//   "finished SKU <0|1>"
// where <status> is the product's status number when the event arrived.
class EventRecorder : public IEventListener<UpdateManager::ProductListChangedEvent>,
                      public IEventListener<UpdateManager::ProductChangedEvent>,
                      public IEventListener<UpdateManager::DownloadProgressEvent>,
                      public IEventListener<UpdateManager::InstallFinishedEvent> {
public:
    explicit EventRecorder(UpdateManager::UpdateManager& manager);
    ~EventRecorder() override;
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    void OnEvent(const UpdateManager::ProductListChangedEvent& event) override;
    void OnEvent(const UpdateManager::ProductChangedEvent& event) override;
    void OnEvent(const UpdateManager::DownloadProgressEvent& event) override;
    void OnEvent(const UpdateManager::InstallFinishedEvent& event) override;

    const std::vector<std::string>& Events() const { return events; }
    // The progress values of the running download's events.
    const std::vector<double>& Progress() const { return progress; }
    int Count(const std::string& event) const;
    bool Has(const std::string& event) const { return Count(event) > 0; }
    // Position of the first such event at or after `from`, -1 if none.
    int IndexOf(const std::string& event, int from = 0) const;
    void Clear();
    std::string Describe() const;

    // Called after a ProductChangedEvent was recorded, inside its raise (the
    // place where the application's listener acts).
    std::function<void(const UpdateManager::ProductChangedEvent&)> onChanged;

private:
    UpdateManager::UpdateManager& manager;
    std::vector<std::string> events;
    std::vector<double> progress;
};

// Calls UpdateProductStates, then ProcessCompletedInstall, every 50 ms until
// `done` holds after a tick; false when it still does not after `timeout`.
bool TickUntil(UpdateManager::UpdateManager& manager, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Points the Downloads known folder at a folder while it lives.
class DownloadsFolder {
public:
    explicit DownloadsFolder(const boost::filesystem::path& folder);
    ~DownloadsFolder();
    DownloadsFolder(const DownloadsFolder&) = delete;
    DownloadsFolder& operator=(const DownloadsFolder&) = delete;
};

// Every file and folder under `root`, relative, with the size of each file.
std::vector<std::string> FolderListing(const boost::filesystem::path& root);

// The categories the engine writes to.
extern const std::vector<std::string> EngineLogCategories;

// A scratch Downloads folder, a release server, the engine's log lines, and
// a manager with a recorder on its four sources. Products are of type "soft".
class EngineTest : public ::testing::Test {
protected:
    EngineTest();
    ~EngineTest() override;

    // A manager on the release server, or on `serverText`.
    UpdateManager::UpdateManager& Start(const std::string& scannerDefinitionFile = std::string());
    UpdateManager::UpdateManager& StartOn(const std::string& serverText,
                                          const std::string& scannerDefinitionFile = std::string());
    // Destroys the recorder and the manager.
    void Stop();

    UpdateManager::ProductKey Key(const std::string& sku) const { return UpdateManager::ProductKey(sku, "soft"); }
    UpdateManager::ProductData& Product(const std::string& sku) { return manager->GetProduct(Key(sku)); }
    UpdateManager::UpdateStatus Status(const std::string& sku) { return Product(sku).installer.GetStatus(); }
    bool Tick(const std::function<bool()>& done) { return TickUntil(*manager, done); }
    bool TickUntilStatus(const std::string& sku, UpdateManager::UpdateStatus status)
    {
        return Tick([&] { return Status(sku) == status; });
    }
    bool TickUntilEvent(const std::string& event)
    {
        return Tick([&] { return events->Has(event); });
    }

    // The application's listener: installs silently on "installer
    // available", resumes on "download paused", resets on "install
    // complete"; each at most `times` times per product.
    void ActLikeTheApplication(int times = 1);

    ScratchFolder scratch;
    boost::filesystem::path downloads;
    DownloadsFolder downloadsFolder;
    ReleaseServer releases;
    LogCapture log;
    std::unique_ptr<UpdateManager::UpdateManager> manager;
    std::unique_ptr<EventRecorder> events;
};

} // namespace Testing
} // namespace Quendal
