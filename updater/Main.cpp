// The updater's entry point: JUCE's application main routine, then the
// relaunch of the product or the logger's shutdown.

#include "updater/JUCEUpdaterApplication.h"
#include "updater/Relaunch.h"

#include <csignal>

int main(int argc, char* argv[])
{
    // A closed standard output loses text quietly.
    std::signal(SIGPIPE, SIG_IGN);
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));
    return Quendal::Updater::FinishAfterMessageLoop();
}
