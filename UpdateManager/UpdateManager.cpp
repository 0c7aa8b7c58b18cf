#include "UpdateManager/UpdateManager.h"

#include "Common/Globals.h"
#include "Common/Helpers.h"
#include "Common/Log.h"
#include "Common/Singleton.h"
#include "Common/Timing.h"
#include "UpdateManager/DownloaderBackgrounder.h"
#include "UpdateManager/HttpDownloadRequest.h"
#include "UpdateManager/InstallThread.h"
#include "UpdateManager/ProductDescriptionFactory.h"
#include "UpdateManager/ResourcesApi.h"
#include "UpdateManager/Version.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <exception>
#include <iterator>
#include <stdexcept>

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

namespace Quendal {
namespace UpdateManager {

namespace {

// Runs `action`; an exception is logged after `context` and gives false.
template <class Action>
bool Contained(const std::string& context, Action&& action)
{
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::UpdateManager, context, e.what());
    } catch (...) {
        Logger().Error(LogCategory::UpdateManager, context, "unknown error");
    }
    return false;
}

std::string Describe(const ProductKey& key)
{
    return key.sku + " (" + key.type + "): ";
}

// "name (type/sku)" as the download lines name a product.
std::string DownloadName(const ProductDescription& description)
{
    return description.name + " (" + description.type + "/" + description.sku + ")";
}

bool IsInstallUnderWay(UpdateStatus status)
{
    return status == UpdateStatus::InstallerStart || status == UpdateStatus::InstallInProgress;
}

bool HasInstallerPath(const ProductData& product)
{
    return !product.installer.GetInstallerPath().empty();
}

} // namespace

bool IsInstallerBusy(const UpdateManager::Products::value_type& product)
{
    const UpdateStatus status = product.second.installer.GetStatus();
    return status == UpdateStatus::DownloadInProgress || IsInstallUnderWay(status);
}

bool IsSafeInstallerFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || u < 0x20 || u == 0x7f;
    });
}

UpdateManager::UpdateManager(const std::string& scannerDefinitionFile, const std::string& server,
                             const std::string& platform)
    : scannerDefinitions(fs::path(scannerDefinitionFile))
    , server(server)
    , useResourcesServer(true)
    , platform(platform)
{
    Logger().Info(LogCategory::UpdateManager, " Initialize UpdateManager");
    GetKnownFolderPath(KnownFolderId::Downloads, downloadFolder);
}

UpdateManager::~UpdateManager()
{
    Logger().Info(LogCategory::UpdateManager, " Terminate UpdateManager");
    // The install thread borrows installers of our products: it goes first.
    CSingleton<InstallThread>::GetInstance();
    CSingleton<InstallThread>::DestroyInstance();
}

// Products, descriptions and refresh.

void UpdateManager::AddProduct(const ProductKey& key, const std::string& localVersion)
{
    Contained("Could not add product " + Describe(key), [&] {
        ProcessProductInfo({{key, localVersion}});
        const Products::iterator product = products.find(key);
        if (product != products.end())
            RefreshProductStates(product);
    });
}

void UpdateManager::AddProduct(const std::string& sku, const std::string& type, const std::string& localVersion)
{
    AddProduct(ProductKey(sku, type), localVersion);
}

ProductData& UpdateManager::GetProduct(const ProductKey& key)
{
    const Products::iterator product = products.find(key);
    if (product == products.end())
        throw std::out_of_range("invalid map<K, T> key");
    return product->second;
}

ProductData& UpdateManager::GetProduct(const std::string& sku, const std::string& type)
{
    return GetProduct(ProductKey(sku, type));
}

UpdateManager::Products& UpdateManager::GetProducts()
{
    return products;
}

void UpdateManager::RefreshProduct(const ProductKey& key)
{
    Contained("Could not refresh product " + Describe(key), [&] {
        std::map<ProductKey, std::string> versions;
        if (key.type == SoftwareType) {
            versions[key] = scannerDefinitions.SearchVersion(key.sku).second;
        } else {
            try {
                versions[key] = GetProduct(key).description.localVersion;
            } catch (const std::out_of_range&) {
            }
        }
        ProcessProductInfo(versions);
        const Products::iterator product = products.find(key);
        if (product != products.end())
            RefreshProductStates(product);
    });
}

void UpdateManager::RefreshProduct(const std::string& sku, const std::string& type)
{
    RefreshProduct(ProductKey(sku, type));
}

void UpdateManager::CreateUpdateManagerData()
{
    Logger().Info(LogCategory::UpdateManager, "Create update manager data");
    Contained("Could not create update manager data: ", [&] {
        ProcessProductInfo(scannerDefinitions.CompleteScan());
        RefreshProductStates(products.begin(), products.end());
    });
}

bool UpdateManager::GetDownloadStatus(const ProductKey& key)
{
    const Products::iterator product = products.find(key);
    if (product == products.end() || !product->second.downloader)
        return false;
    return product->second.downloader->GetState() == DownloadState::Downloading;
}

bool UpdateManager::GetDownloadStatus(const std::string& sku, const std::string& type)
{
    return GetDownloadStatus(ProductKey(sku, type));
}

bool UpdateManager::SetDownloadFolder(const std::string& folder)
{
    if (folder == downloadFolder)
        return true;
    if (FindBusyProduct(products.begin(), products.end()) != products.end())
        return false;
    downloadFolder = folder;
    Contained("Could not refresh the products: ", [&] { RefreshProductStates(products.begin(), products.end()); });
    return true;
}

void UpdateManager::SetUseResourcesServer(bool use)
{
    useResourcesServer = use;
}

void UpdateManager::ProcessProductInfo(const std::map<ProductKey, std::string>& localVersions)
{
    CTiming timing("ProcessProductInfo", true);
    Logger().Info(LogCategory::UpdateManager, " Getting descriptions for all products");
    bool useServer = useResourcesServer;
    // One request for the whole call: its connection is reused.
    HttpDownloadRequest request;
    for (const auto& entry : localVersions) {
        const ProductKey& key = entry.first;
        const std::string& localVersion = entry.second;
        ProductData& product = products.try_emplace(key, key.type + "/" + key.sku).first->second;
        product.description.sku = key.sku;
        product.description.type = key.type;
        product.description.localVersion = localVersion;
        if (!useServer)
            continue;

        const std::string invalidResponse = " Could not get product information for " + key.sku +
                                            ": invalid response (no response or invalid json format";
        try {
            const std::string url = server + ResourcesApiPath(key.sku, key.type, platform, "latest");
            pt::ptree tree;
            if (request.GetJson(url, tree, {})) {
                ResourceResponse response(tree);
                if (response.IsValid()) {
                    ProductDescriptionFactory factory;
                    ProductDescription fresh;
                    pt::ptree resource = response.GetResource();
                    if (factory.Create(key.sku, key.type, localVersion, resource, fresh))
                        product.description = fresh;
                    else
                        Logger().Warning(LogCategory::UpdateManager, " Could not get product information for ", key.sku,
                                         ": invalid description data");
                } else {
                    Logger().Warning(LogCategory::UpdateManager, " Could not get product information for ", key.sku,
                                     ": invalid resource data");
                }
            } else if (request.GetStatus() == TransferStatus::ConnectionFailed) {
                Logger().Error(LogCategory::UpdateManager, " Could not connect to resources server.");
                useServer = false;
            } else {
                Logger().Error(LogCategory::UpdateManager, invalidResponse);
            }
        } catch (...) {
            Logger().Error(LogCategory::UpdateManager, invalidResponse);
        }
    }
}

void UpdateManager::RefreshProductStates(Products::iterator first, Products::iterator last)
{
    for (Products::iterator product = first; product != last; ++product)
        Contained("Could not refresh product " + Describe(product->first), [&] { RefreshOne(product); });
    DumpProductInfo();
    Raise(ProductListChangedEvent());
}

void UpdateManager::RefreshProductStates(Products::iterator product)
{
    if (product == products.end())
        return;
    RefreshProductStates(product, std::next(product));
}

void UpdateManager::RefreshOne(Products::iterator product)
{
    ProductData& data = product->second;
    const ProductDescription& description = data.description;
    Installer& installer = data.installer;
    const fs::path path = InstallerFilePath(description.permalink);
    if (!installer.IsInitialised()) {
        installer.Reset(description.permalink, path, UpdateStatus::Unknown, description.localVersion,
                        description.version);
        CheckRelease(product->first, data);
        Raise(ProductChangedEvent(product->first));
        return;
    }
    const bool changed = installer.GetUrl() != description.permalink || installer.GetInstallerPath() != path;
    const UpdateStatus status = installer.GetStatus();
    // A download or install under way keeps its file.
    if (changed && status != UpdateStatus::DownloadInProgress && status != UpdateStatus::DownloadPaused &&
        !IsInstallUnderWay(status))
        installer.SetSource(description.permalink, path);
    installer.CheckState(description.localVersion, description.version);
    CheckRelease(product->first, data);
}

void UpdateManager::CheckRelease(const ProductKey& key, ProductData& product)
{
    Installer& installer = product.installer;
    const UpdateStatus status = installer.GetStatus();
    if (!HasInstallerPath(product)) {
        if (status != UpdateStatus::Unknown) {
            Logger().Error(LogCategory::UpdateManager, "No usable installer file name in the download URL of ", key.sku,
                           " (", key.type, ")");
            installer.SetStatus(UpdateStatus::Error);
        }
        return;
    }
    // A file left in Downloads must not turn an unsupported release into an
    // install.
    if ((status == UpdateStatus::UpdateNeeded || status == UpdateStatus::DownloadPaused ||
         status == UpdateStatus::InstallerAvailable) &&
        !product.description.IsPlatformSupported())
        installer.SetStatus(UpdateStatus::PlatformNotSupported);
}

void UpdateManager::DumpProductInfo()
{
    if (!Logger().IsEnabled(LogCategory::UpdateManager, CLog::Level::Debug))
        return;
    Logger().Debug(LogCategory::UpdateManager, "  Local computed data:");
    for (const auto& entry : products) {
        const ProductDescription& d = entry.second.description;
        Logger().Debug(LogCategory::UpdateManager, "Data for ", d.name, ":", "\n  URL:            ", d.permalink,
                       "\n  SKU:            ", d.sku, "\n  Type:           ", d.type,
                       "\n  Local version:  ", d.localVersion, "\n  Latest Version: ", d.version,
                       "\n  Installer File: ", entry.second.installer.GetInstallerPath().string(),
                       "\n  Status:         ", UpdateStatusToString(entry.second.installer.GetStatus()));
    }
}

fs::path UpdateManager::InstallerFilePath(const std::string& url) const
{
    const std::string::size_type slash = url.rfind('/');
    const std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
    if (!IsSafeInstallerFileName(name))
        return fs::path();
    return fs::path(downloadFolder) / name;
}

UpdateManager::Products::iterator UpdateManager::FindBusyProduct(Products::iterator first, Products::iterator last)
{
    return std::find_if(first, last, [](const Products::value_type& product) { return IsInstallerBusy(product); });
}

UpdateManager::Products::iterator
UpdateManager::FindProductByInstaller(Products::iterator first, Products::iterator last, const Installer* installer)
{
    if (installer == nullptr)
        return last;
    const Products::iterator owner = std::find_if(first, last, [installer](const Products::value_type& product) {
        return &product.second.installer == installer;
    });
    if (owner != last)
        return owner;
    const fs::path path = installer->GetInstallerPath();
    return std::find_if(first, last, [&path](const Products::value_type& product) {
        return product.second.installer.GetInstallerPath() == path;
    });
}

// State step and product commands.

void UpdateManager::UpdateProductStates()
{
    // Listeners may add products; map iterators stay valid.
    for (Products::iterator product = products.begin(); product != products.end(); ++product)
        Contained("State step failed for " + Describe(product->first),
                  [&] { StepProduct(product->first, product->second); });
}

void UpdateManager::StepProduct(const ProductKey& key, ProductData& product)
{
    Installer& installer = product.installer;
    const UpdateStatus old = installer.GetStatus();
    bool queued = false;
    switch (old) {
    case UpdateStatus::DownloadInProgress: {
        if (!product.downloader)
            return;
        // The state word is read once, with the checksum it publishes.
        const DownloaderBackgrounder::Outcome outcome = product.downloader->GetOutcome();
        const int state = static_cast<int>(outcome.state);
        if (state < static_cast<int>(DownloadState::Idle) || state > static_cast<int>(DownloadState::Failed))
            return;
        StepDownload(key, product, outcome);
        break;
    }
    case UpdateStatus::DownloadPaused:
    case UpdateStatus::InstallerAvailable:
        installer.CheckState(product.description.localVersion, product.description.version);
        break;
    case UpdateStatus::InstallerStart:
        installer.SetStatus(UpdateStatus::InstallInProgress);
        queued = installer.Launch();
        break;
    case UpdateStatus::InstallComplete:
        Raise(ProductChangedEvent(key));
        break;
    case UpdateStatus::InstallInProgress: // only the install thread moves it on
    case UpdateStatus::PlatformNotSupported:
        return;
    default:
        break;
    }

    // Once queued, the install thread's own moves are not changes of the step.
    const UpdateStatus now = queued ? UpdateStatus::InstallInProgress : installer.GetStatus();
    if (now != old) {
        Logger().Info(LogCategory::UpdateManager, "State for product ", product.description.sku, " (",
                      product.description.type, ") switch from ", UpdateStatusToString(old), " to ",
                      UpdateStatusToString(now));
        Raise(ProductChangedEvent(key));
    }
}

void UpdateManager::StepDownload(const ProductKey& key, ProductData& product,
                                 const DownloaderBackgrounder::Outcome& outcome)
{
    Installer& installer = product.installer;
    DownloaderBackgrounder& downloader = *product.downloader;
    switch (static_cast<int>(outcome.state)) {
    case static_cast<int>(DownloadState::Downloading): {
        DownloadProgressEvent event(key);
        event.progress = downloader.GetProgress();
        event.completed = false;
        Raise(event);
        break;
    }
    case static_cast<int>(DownloadState::Paused):
    case 3:
        installer.SetStatus(UpdateStatus::DownloadPaused);
        break;
    case static_cast<int>(DownloadState::Completed): {
        // A confirm file that cannot be written ends the download as an
        // error (set by WriteConfirmFile).
        if (!installer.WriteConfirmFile(outcome.checksum))
            break;
        installer.SetStatus(UpdateStatus::InstallerAvailable);
        DownloadProgressEvent event(key);
        event.progress = 100.0;
        event.completed = true;
        Raise(event);
        if (product.description.permalink != installer.GetUrl())
            RefreshProduct(key);
        break;
    }
    case static_cast<int>(DownloadState::Failed):
        installer.SetStatus(UpdateStatus::DownloadError);
        break;
    default: // Idle: the job has not begun
        break;
    }
}

UpdateManager::Products::iterator UpdateManager::FindRegistered(const ProductKey& key, int level, const char* action)
{
    const Products::iterator product = products.find(key);
    if (product == products.end())
        Logger().Log(LogCategory::UpdateManager, level, "Could not find product info for ", key.sku, action);
    return product;
}

bool UpdateManager::LaunchDownload(const ProductKey& key, bool restart)
{
    const Products::iterator product = FindRegistered(key, CLog::Level::Error, " while launching download");
    if (product == products.end())
        return false;
    bool launched = false;
    Contained("Could not launch download for " + Describe(key),
              [&] { launched = StartDownload(product->first, product->second, restart); });
    return launched;
}

bool UpdateManager::LaunchDownload(const std::string& sku, const std::string& type, bool restart)
{
    return LaunchDownload(ProductKey(sku, type), restart);
}

bool UpdateManager::StartDownload(const ProductKey& key, ProductData& product, bool restart)
{
    Installer& installer = product.installer;
    const ProductDescription& description = product.description;
    if (!HasInstallerPath(product)) {
        Logger().Warning(LogCategory::UpdateManager, " Attempt to launch download for ", DownloadName(description),
                         " but it has no usable installer file name");
        return false;
    }
    // Two jobs must never write one file.
    const fs::path path = installer.GetInstallerPath();
    for (const Products::value_type& other : products) {
        if (&other.second != &product && IsInstallerBusy(other) && other.second.installer.GetInstallerPath() == path) {
            Logger().Warning(LogCategory::UpdateManager, " Attempt to launch download for ", DownloadName(description),
                             " but ", DownloadName(other.second.description), " is busy with the same installer file");
            return false;
        }
    }

    UpdateStatus status = installer.GetStatus();
    // The running installer's file must stay.
    if (restart && IsInstallUnderWay(status)) {
        Logger().Warning(LogCategory::UpdateManager, " Attempt to launch download for ", DownloadName(description),
                         " but status is ", UpdateStatusToString(status));
        return false;
    }
    // A failed download is discarded, not resumed.
    if (status == UpdateStatus::DownloadError || restart)
        ResetProduct(key);
    else
        installer.CheckState(description.localVersion, description.version);
    status = installer.GetStatus();
    if (!restart && status != UpdateStatus::UpdateNeeded && status != UpdateStatus::DownloadPaused &&
        status != UpdateStatus::DownloadError) {
        Logger().Warning(LogCategory::UpdateManager, " Attempt to launch download for ", DownloadName(description),
                         " but status is ", UpdateStatusToString(status));
        return false;
    }

    const fs::path folder = path.parent_path();
    try {
        if (!folder.empty() && !fs::exists(folder) && fs::is_directory(folder.parent_path()) &&
            !fs::create_directory(folder)) {
            Logger().Error(LogCategory::UpdateManager, "Can't create download dir '", folder, "'.");
            return false;
        }
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::UpdateManager, "Can't create download dir '", folder, "': ", e.what());
        return false;
    }

    Logger().Info(LogCategory::UpdateManager, " Launch download for ", DownloadName(description));
    product.downloader->Start(DownloaderBackgrounder::Data(installer.GetUrl(), path.string(), description.checksum,
                                                           static_cast<int64_t>(description.size),
                                                           installer.GetByteCount()));
    installer.SetStatus(UpdateStatus::DownloadInProgress);
    return true;
}

void UpdateManager::LaunchAllDownloads()
{
    for (Products::iterator product = products.begin(); product != products.end(); ++product)
        LaunchDownload(product->first, false);
}

bool UpdateManager::LaunchInstaller(const ProductKey& key, bool silent)
{
    const Products::iterator product = FindRegistered(key, CLog::Level::Warning, " while launching install");
    if (product == products.end())
        return false;
    Installer& installer = product->second.installer;
    const ProductDescription& description = product->second.description;
    if (installer.GetStatus() != UpdateStatus::InstallerAvailable) {
        Logger().Warning(LogCategory::UpdateManager, "Attempt to launch installer for ", description.name, " (",
                         description.sku, ") but installer is not available.");
        return false;
    }
    Logger().Info(LogCategory::UpdateManager, "Launch download for ", description.name, " (", description.sku, ")");
    installer.SetSilent(silent);
    installer.SetStatus(UpdateStatus::InstallerStart);
    return true;
}

bool UpdateManager::LaunchInstaller(const std::string& sku, const std::string& type, bool silent)
{
    return LaunchInstaller(ProductKey(sku, type), silent);
}

bool UpdateManager::StopDownload(const ProductKey& key, bool wait)
{
    const Products::iterator product = FindRegistered(key, CLog::Level::Error, " while stopping download");
    if (product == products.end())
        return false;
    const ProductDescription& description = product->second.description;
    Logger().Info(LogCategory::UpdateManager, "Stop download for ", description.name, " (", description.sku, ")");
    if (product->second.downloader)
        Contained("Could not stop download for " + Describe(key), [&] { product->second.downloader->Stop(wait); });
    return true;
}

bool UpdateManager::StopDownload(const std::string& sku, const std::string& type, bool wait)
{
    return StopDownload(ProductKey(sku, type), wait);
}

bool UpdateManager::ResetProduct(const ProductKey& key)
{
    const Products::iterator product = products.find(key);
    if (product != products.end()) {
        const ProductDescription& description = product->second.description;
        const UpdateStatus status = product->second.installer.GetStatus();
        // The running installer's file must stay.
        if (IsInstallUnderWay(status)) {
            Logger().Warning(LogCategory::UpdateManager, " Attempt to reset ", DownloadName(description),
                             " but status is ", UpdateStatusToString(status));
            return false;
        }
        if (!HasInstallerPath(product->second)) {
            Logger().Warning(LogCategory::UpdateManager, " Attempt to reset ", DownloadName(description),
                             " but it has no usable installer file name");
            return false;
        }
    }
    if (!StopDownload(key, true))
        return false;
    try {
        ProductData& data = GetProduct(key);
        if (!RemoveInstallerFiles(data))
            return false;
        data.installer.CheckState(data.description.localVersion, data.description.version);
        return true;
    } catch (...) {
        return false;
    }
}

bool UpdateManager::ResetProduct(const std::string& sku, const std::string& type)
{
    return ResetProduct(ProductKey(sku, type));
}

bool UpdateManager::RemoveInstallerFiles(ProductData& product)
{
    const fs::path path = product.installer.GetInstallerPath();
    // Only a file goes; a folder of that name is left alone.
    if (fs::is_directory(fs::symlink_status(path)))
        return false;
    fs::remove(path);
    fs::remove(product.installer.GetConfirmPath());
    return true;
}

void UpdateManager::ProcessCompletedInstall()
{
    Contained("Could not process a completed install: ", [&] {
        InstallThread* thread = CSingleton<InstallThread>::GetInstance();
        if (!thread->HasFinished())
            return;
        Installer* installer = thread->PopFinished();
        if (installer != nullptr)
            CollectInstaller(installer);
    });
}

void UpdateManager::CollectInstaller(Installer* installer)
{
    const Products::iterator product = FindProductByInstaller(products.begin(), products.end(), installer);
    if (product == products.end()) {
        Logger().Error(LogCategory::UpdateManager, " Could not find product information for ",
                       installer->GetInstallerPath().string(), " to process completed installer");
        return;
    }
    // What the install itself gave, not what a listener left afterwards.
    const UpdateStatus old = installer->GetRunStatus();
    const ProductDescription& description = product->second.description;
    Logger().Info(LogCategory::UpdateManager, "Installation of ", description.name,
                  installer->GetInstallerPath().string(), " complete with status ", UpdateStatusToString(old));
    const ProductKey key(description.sku, description.type);
    Raise(ProductChangedEvent(key));
    RefreshProduct(key);
    try {
        const UpdateStatus now = GetProduct(key).installer.GetStatus();
        const bool success = old == UpdateStatus::InstallComplete && now == UpdateStatus::UpToDate;
        Raise(InstallFinishedEvent(key, success));
        Logger().Notice(LogCategory::UpdateManager, "Install of product '", key.type, "/", key.sku, "' ",
                        success ? "succeeded" : "failed or was cancelled");
    } catch (const std::out_of_range&) {
        Logger().Error(LogCategory::UpdateManager, "Product '", key.sku, "' disapeared after install.");
        Raise(InstallFinishedEvent(key, false));
    }
}

} // namespace UpdateManager
} // namespace Quendal
