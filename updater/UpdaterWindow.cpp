#include "updater/UpdaterWindow.h"

#include "Common/Globals.h"

#include <chrono>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace Quendal {
namespace Updater {

using UpdateManager::ProductChangedEvent;
using UpdateManager::ProductData;
using UpdateManager::UpdateStatus;

namespace {

constexpr int WindowWidth = 300;
constexpr int WindowHeight = 100;
constexpr int TimerIntervalMs = 50;
constexpr int MaxDownloadRelaunches = 5;
constexpr auto RetryPause = std::chrono::milliseconds(200);

const char* const DownloadingText = "Downloading latest version...";
const char* const InstallingText = "Install in progress...";
const char* const UpdateFailedText = "Update failed.";
const char* const InstallFailedText = "Install failed.";

// An engine call threw something other than an unknown product's
// std::out_of_range: one line on standard output; the next tick goes on.
void ReportEngineFailure(const char* where)
{
    try {
        throw;
    } catch (const std::exception& error) {
        std::cout << "Error: " << where << ": " << error.what() << std::endl;
    } catch (...) {
        std::cout << "Error: " << where << ": unknown exception" << std::endl;
    }
}

} // namespace

UpdaterWindow::SecondaryWindow::SecondaryWindow(const std::string& title)
    : juce::DocumentWindow(juce::String::fromUTF8(title.c_str()), juce::Colour(0xffffffff),
                           juce::DocumentWindow::allButtons, true)
{
}

void UpdaterWindow::SecondaryWindow::closeButtonPressed()
{
    setVisible(false);
}

UpdaterWindow::UpdaterWindow(const std::string& sku, const std::string& server)
    : juce::DocumentWindow("Auto Update", juce::Colour(0xffd3d3d3), juce::DocumentWindow::closeButton, true)
    , panel(
          "main", [this] { OnLaunchInstaller(); }, [this] { closeButtonPressed(); })
    , logWindow("Log window")
    , manager("", server.empty() ? DefaultResourcesServer : server, UpdateManager::WindowsPlatform)
    , finished(false)
    , productKey(sku, UpdateManager::SoftwareType)
    , relaunch(false)
    , installStarted(false)
    , retryCount(0)
{
}

UpdaterWindow::~UpdaterWindow()
{
    stopTimer();
    manager.RemoveListener(this);
}

void UpdaterWindow::Start()
{
    panel.setBounds(0, 0, WindowWidth, WindowHeight);
    retryCount = 0;
    manager.AddProduct(productKey, "0.0");
    manager.AddListener(this);
    try {
        UpdateStatus status = manager.GetProduct(productKey).installer.GetStatus();
        if (status == UpdateStatus::Error || status == UpdateStatus::Unknown ||
            status == UpdateStatus::PlatformNotSupported)
            std::exit(1);
        if (!manager.LaunchDownload(productKey, true))
            std::exit(1);
        panel.SetText(DownloadingText);
    } catch (const std::out_of_range&) {
        std::exit(1);
    }

    setUsingNativeTitleBar(true);
    centreWithSize(panel.getWidth(), panel.getHeight());
    setVisible(true);
    setContentNonOwned(&panel, true);
    toFront(true);
    setAlwaysOnTop(true);
    startTimer(TimerIntervalMs);
}

void UpdaterWindow::Stop()
{
    stopTimer();
    manager.RemoveListener(this);
}

void UpdaterWindow::closeButtonPressed()
{
    juce::JUCEApplicationBase::quit();
}

bool UpdaterWindow::InstallerLost() const
{
    return installStarted && !finished;
}

void UpdaterWindow::ShowInstallFailed()
{
    panel.SetText(InstallFailedText);
    panel.ShowButtons(true);
}

void UpdaterWindow::ProductNotFound()
{
    std::cout << "Error: Product " << productKey.sku << " not found";
    panel.SetText(UpdateFailedText);
    finished = true;
}

void UpdaterWindow::timerCallback()
{
    try {
        manager.UpdateProductStates();
        manager.ProcessCompletedInstall();
    } catch (...) {
        ReportEngineFailure("update step failed");
    }

    try {
        ProductData& product = manager.GetProduct(productKey);
        switch (product.installer.GetStatus()) {
        case UpdateStatus::DownloadInProgress:
            panel.SetProgress(product.downloader->GetProgress());
            break;
        case UpdateStatus::InstallInProgress: {
            double progress = product.installer.GetProgress();
            if (progress >= 0.0)
                panel.SetProgress(progress);
            break;
        }
        case UpdateStatus::DownloadError:
        case UpdateStatus::Error:
            if (installStarted)
                ShowInstallFailed();
            else
                finished = true;
            break;
        case UpdateStatus::UpdateNeeded:
            if (InstallerLost())
                ShowInstallFailed();
            break;
        default:
            break;
        }
    } catch (const std::out_of_range&) {
        ProductNotFound();
    } catch (...) {
        ReportEngineFailure("status check failed");
    }

    if (finished)
        closeButtonPressed();
}

void UpdaterWindow::OnEvent(const ProductChangedEvent&)
{
    try {
        ProductData& product = manager.GetProduct(productKey);
        UpdateStatus status = product.installer.GetStatus();
        switch (status) {
        case UpdateStatus::UpdateNeeded:
        case UpdateStatus::DownloadInProgress:
            if (status == UpdateStatus::UpdateNeeded && InstallerLost()) {
                panel.SetProgress(0.0);
                ShowInstallFailed();
                break;
            }
            retryCount = 0;
            panel.SetText(DownloadingText);
            panel.SetProgress(product.downloader->GetProgress());
            break;
        case UpdateStatus::DownloadPaused: {
            int relaunches = retryCount++;
            if (relaunches < MaxDownloadRelaunches) {
                manager.LaunchDownload(productKey, false);
                std::this_thread::sleep_for(RetryPause);
            } else {
                panel.SetProgress(0.0);
                panel.SetText(UpdateFailedText);
                finished = true;
            }
            break;
        }
        case UpdateStatus::DownloadError:
        case UpdateStatus::Error:
            panel.SetProgress(0.0);
            if (installStarted) {
                ShowInstallFailed();
            } else {
                panel.SetText(UpdateFailedText);
                finished = true;
            }
            break;
        case UpdateStatus::InstallerAvailable:
            if (!installStarted) {
                installStarted = true;
                manager.LaunchInstaller(productKey, true);
                panel.SetText(InstallingText);
                panel.SetProgress(-1.0);
            }
            break;
        case UpdateStatus::InstallInProgress: {
            panel.SetText(InstallingText);
            double progress = product.installer.GetProgress();
            if (progress >= 0.0)
                panel.SetProgress(progress);
            break;
        }
        case UpdateStatus::InstallComplete:
            // Flags first: the reset reports "update needed" for a finished update.
            relaunch = true;
            finished = true;
            manager.ResetProduct(productKey);
            closeButtonPressed();
            break;
        default:
            std::cout << "Update status not handled: " << static_cast<int>(status);
            break;
        }
    } catch (const std::out_of_range&) {
        ProductNotFound();
    } catch (...) {
        ReportEngineFailure("product event failed");
    }
}

void UpdaterWindow::OnLaunchInstaller()
{
    try {
        // One interactive install at a time.
        UpdateStatus status = manager.GetProduct(productKey).installer.GetStatus();
        if (status == UpdateStatus::DownloadInProgress || status == UpdateStatus::InstallerStart ||
            status == UpdateStatus::InstallInProgress)
            return;
        manager.RefreshProduct(productKey);
        if (manager.LaunchInstaller(productKey, false))
            setAlwaysOnTop(false);
    } catch (const std::out_of_range&) {
        ProductNotFound();
    } catch (...) {
        ReportEngineFailure("installer launch failed");
    }
}

} // namespace Updater
} // namespace Quendal
