#pragma once
// The update engine's front object: registers products, describes them from
// the resources web service, follows their downloads and installs, and
// reports changes through four event sources.
//
// Every operation runs on the caller's thread (the application's message
// thread); listeners are called synchronously inside the operations and may
// call the manager again. Not safe for use from two threads at once.

#include "Common/Events.h"
#include "UpdateManager/Installer.h"
#include "UpdateManager/ProductData.h"
#include "UpdateManager/ProductKey.h"
#include "UpdateManager/ScannerDefinitions.h"
#include "UpdateManager/UpdateEvents.h"

#include <boost/filesystem/path.hpp>

#include <map>
#include <string>
#include <utility>

namespace Quendal {
namespace UpdateManager {

class UpdateManager : public EventSource<ProductListChangedEvent>,
                      public EventSource<ProductChangedEvent>,
                      public EventSource<DownloadProgressEvent>,
                      public EventSource<InstallFinishedEvent> {
public:
    using Products = std::map<ProductKey, ProductData>;

    // Loads the scanner definitions (an empty path loads none) and looks up
    // the Downloads folder. `server` is host[:port] of the resources web
    // service, `platform` the platform of its request path ("windows").
    UpdateManager(const std::string& scannerDefinitionFile, const std::string& server, const std::string& platform);
    // Stops and joins the install thread, then every product's download
    // worker. A partial download stays on disk.
    ~UpdateManager() override;
    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;

    // Subscription to any of the four sources: manager.AddListener(listener).
    using EventSource<ProductListChangedEvent>::AddListener;
    using EventSource<ProductChangedEvent>::AddListener;
    using EventSource<DownloadProgressEvent>::AddListener;
    using EventSource<InstallFinishedEvent>::AddListener;
    using EventSource<ProductListChangedEvent>::RemoveListener;
    using EventSource<ProductChangedEvent>::RemoveListener;
    using EventSource<DownloadProgressEvent>::RemoveListener;
    using EventSource<InstallFinishedEvent>::RemoveListener;

    // Products, descriptions and refresh.

    // Registers the product (once) with its local version, fetches its
    // description and sets up or re-checks its installer state.
    void AddProduct(const ProductKey& key, const std::string& localVersion);
    void AddProduct(const std::string& sku, const std::string& type, const std::string& localVersion);
    // Throws std::out_of_range ("invalid map<K, T> key") for a key that is
    // not registered. The reference stays valid while products are added.
    ProductData& GetProduct(const ProductKey& key);
    ProductData& GetProduct(const std::string& sku, const std::string& type);
    Products& GetProducts();
    // Reads the local version again ("soft" products: from the scanner
    // definitions), fetches the description again and re-checks the state.
    void RefreshProduct(const ProductKey& key);
    void RefreshProduct(const std::string& sku, const std::string& type);
    // Registers and describes every product of the scanner definitions.
    void CreateUpdateManagerData();
    // True while the product's download job is transferring.
    bool GetDownloadStatus(const ProductKey& key);
    bool GetDownloadStatus(const std::string& sku, const std::string& type);
    // False while a product is busy (3, 7, 8); otherwise re-checks all.
    bool SetDownloadFolder(const std::string& folder);
    void SetUseResourcesServer(bool use);

    // State step and product commands.

    // One step of every product: follows its download job and installer,
    // reports each status change it causes.
    void UpdateProductStates();
    // True when a download job was posted (status 3). With restart, any
    // earlier installer file and confirm file are removed first.
    bool LaunchDownload(const ProductKey& key, bool restart);
    bool LaunchDownload(const std::string& sku, const std::string& type, bool restart);
    void LaunchAllDownloads();
    // From "installer available" only: status 7; the next step queues the
    // install.
    bool LaunchInstaller(const ProductKey& key, bool silent);
    bool LaunchInstaller(const std::string& sku, const std::string& type, bool silent);
    // Stops the running download after its current chunk; with wait, returns
    // once it has ended. The next step sees the paused job.
    bool StopDownload(const ProductKey& key, bool wait);
    bool StopDownload(const std::string& sku, const std::string& type, bool wait);
    // Stops the download, removes the installer file and its confirm file
    // and evaluates the status again. Refused while an install is under way.
    bool ResetProduct(const ProductKey& key);
    bool ResetProduct(const std::string& sku, const std::string& type);
    // Collects at most one installer that the install thread has finished,
    // refreshes its product and raises InstallFinishedEvent.
    void ProcessCompletedInstall();

    // Internal steps, open to tests.

    // Registers every key (sku, type, local version) and describes it from
    // the web service through one request object.
    void ProcessProductInfo(const std::map<ProductKey, std::string>& localVersions);
    // Sets up or re-checks the installers of [first, last), then raises
    // ProductListChangedEvent.
    void RefreshProductStates(Products::iterator first, Products::iterator last);
    // One product; nothing for the end.
    void RefreshProductStates(Products::iterator product);
    void DumpProductInfo();
    // The Downloads folder + the URL's last segment; an empty path when that
    // segment is no safe file name.
    boost::filesystem::path InstallerFilePath(const std::string& url) const;
    Products::iterator FindBusyProduct(Products::iterator first, Products::iterator last);
    // The product that owns `installer`, else the first with the same
    // installer path; last when none.
    Products::iterator FindProductByInstaller(Products::iterator first, Products::iterator last,
                                              const Installer* installer);

private:
    using EventSource<ProductListChangedEvent>::Raise;
    using EventSource<ProductChangedEvent>::Raise;
    using EventSource<DownloadProgressEvent>::Raise;
    using EventSource<InstallFinishedEvent>::Raise;

    // The product, or the end after the line "Could not find product info
    // for " + sku + `action` at `level`.
    Products::iterator FindRegistered(const ProductKey& key, int level, const char* action);
    void RefreshOne(Products::iterator product);
    // Status 11 for a release without a safe installer path; 10 for a
    // release outside the running OS's range.
    void CheckRelease(const ProductKey& key, ProductData& product);
    void StepProduct(const ProductKey& key, ProductData& product);
    // The job's state word, read once, is in 0..5.
    void StepDownload(const ProductKey& key, ProductData& product, DownloadState state);
    bool StartDownload(const ProductKey& key, ProductData& product, bool restart);
    bool RemoveInstallerFiles(ProductData& product);
    void CollectInstaller(Installer* installer);

    ScannerDefinitions scannerDefinitions;
    std::string server;
    Products products;
    bool useResourcesServer;
    std::string platform;
    std::string downloadFolder;
};

// Status 3, 7 or 8: a download or an install is under way.
bool IsInstallerBusy(const UpdateManager::Products::value_type& product);

// A name that can be used as one file directly in the Downloads folder: not
// empty, not "." or "..", no "/", "\" or control character.
bool IsSafeInstallerFileName(const std::string& name);

} // namespace UpdateManager
} // namespace Quendal
