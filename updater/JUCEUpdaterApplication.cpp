#include "updater/JUCEUpdaterApplication.h"

#include "Common/Globals.h"
#include "platform/Display.h"
#include "updater/CommandLine.h"
#include "updater/Relaunch.h"

#include <cstdlib>
#include <iostream>

namespace Quendal {
namespace Updater {

JUCEUpdaterApplication::JUCEUpdaterApplication() = default;

// The look-and-feel goes first, then the window (already gone after shutdown).
JUCEUpdaterApplication::~JUCEUpdaterApplication() = default;

const juce::String JUCEUpdaterApplication::getApplicationName()
{
    return "Updater";
}

const juce::String JUCEUpdaterApplication::getApplicationVersion()
{
    return "1.1.6.898";
}

bool JUCEUpdaterApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void JUCEUpdaterApplication::initialise(const juce::String&)
{
    CommandLine line = ParseCommandLine(getCommandLineParameterArray());
    if (!line.valid) {
        PrintUsage();
        std::exit(1);
    }
    RelaunchArgs = line.relaunchArgs;
    RelaunchArgsAsGiven = line.relaunchArgsAsGiven;

    // The toolkit cannot build a window without a display.
    if (!platform::HasUsableDisplay()) {
        const char* display = std::getenv("DISPLAY");
        std::cerr << "updater: no usable display (DISPLAY=" << (display != nullptr ? display : "") << ")" << std::endl;
        std::exit(1);
    }

    lookAndFeel = std::make_unique<UpdaterLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel(lookAndFeel.get());
    window = std::make_unique<UpdaterWindow>(line.sku, line.server);
    window->Start();
}

void JUCEUpdaterApplication::shutdown()
{
    if (window != nullptr)
        RelaunchFlag = window->relaunch;
    window.reset();
    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
}

void JUCEUpdaterApplication::anotherInstanceStarted(const juce::String&) { }

} // namespace Updater
} // namespace Quendal

juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new Quendal::Updater::JUCEUpdaterApplication();
}
