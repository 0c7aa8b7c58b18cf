#pragma once
// The "Auto Update" window: owns the update engine, registers the one product
// of the command line, starts its download and drives it from a 50 ms timer
// and from the engine's ProductChangedEvent through the silent install.

#include "Common/Events.h"
#include "UpdateManager/ProductKey.h"
#include "UpdateManager/UpdateEvents.h"
#include "UpdateManager/UpdateManager.h"
#include "updater/UpdaterPanel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>

namespace Quendal {
namespace Updater {

class UpdaterWindow : public juce::DocumentWindow,
                      public IEventListener<UpdateManager::ProductChangedEvent>,
                      public juce::Timer {
public:
    UpdaterWindow(const std::string& sku, const std::string& server);
    ~UpdaterWindow() override;

    // Asks the application to quit: the title bar's close button, "Quit",
    // and the end of every finished update.
    void closeButtonPressed() override;
    void OnEvent(const UpdateManager::ProductChangedEvent& event) override;
    void timerCallback() override;

    // Registers the product, starts a fresh download and shows the window;
    // ends the process with exit code 1 when the update cannot start.
    virtual void Start();
    // Stops the timer and leaves the engine's event source.
    virtual void Stop();

    // The action of "Launch Installer": an interactive install.
    void OnLaunchInstaller();

private:
    // A top-level window that is never shown.
    class SecondaryWindow : public juce::DocumentWindow {
    public:
        explicit SecondaryWindow(const std::string& title);
        void closeButtonPressed() override;
    };

    // The product is gone from the engine: the update ends.
    void ProductNotFound();
    // A status 2 after the install was started and before the update
    // finished: the installer went away before it ran.
    bool InstallerLost() const;
    void ShowInstallFailed();

    UpdaterPanel panel;
    SecondaryWindow logWindow;
    UpdateManager::UpdateManager manager;
    bool finished;
    UpdateManager::ProductKey productKey;

public:
    // Set when the install completed: the product is to be relaunched.
    bool relaunch;

private:
    bool installStarted;
    int retryCount;
};

} // namespace Updater
} // namespace Quendal
