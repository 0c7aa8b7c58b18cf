#pragma once
// The GUI application object: reads the command line, sets the look-and-feel,
// creates and starts the update window; at shutdown it takes the window's
// relaunch flag.

#include "updater/UpdaterLookAndFeel.h"
#include "updater/UpdaterWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace Quendal {
namespace Updater {

class JUCEUpdaterApplication : public juce::JUCEApplication {
public:
    JUCEUpdaterApplication();
    ~JUCEUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    // A usage error ends the process with code 1; so does a missing display.
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;

private:
    std::unique_ptr<UpdaterWindow> window;
    std::unique_ptr<UpdaterLookAndFeel> lookAndFeel;
};

} // namespace Updater
} // namespace Quendal

// The application factory that main() installs.
juce::JUCEApplicationBase* juce_CreateApplication();
