#pragma once
// The updater's command line:
//   updater --product-sku SKU [--server HOST[:PORT]] [-- RELAUNCH_ARG ...]

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace Quendal {
namespace Updater {

struct CommandLine {
    bool valid = false; // a SKU was given
    std::string sku;
    std::string server; // empty: the default resources server
    // The arguments after "--", each in its quoted form.
    std::vector<std::string> relaunchArgs;
    // The same arguments as they were given.
    std::vector<std::string> relaunchArgsAsGiven;
};

// Reads the arguments (without the program name). A value is taken as it
// stands, even when it looks like an option; a repeated option overwrites
// the earlier value; everything after "--" belongs to the relaunch command.
CommandLine ParseCommandLine(const juce::StringArray& arguments);

// A double quote added at the start and at the end unless one is there
// already; an empty argument becomes two double quotes.
std::string QuoteArgument(const juce::String& argument);

// The two usage lines, each flushed.
void PrintUsage();

} // namespace Updater
} // namespace Quendal
