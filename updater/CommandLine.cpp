#include "updater/CommandLine.h"

#include <iostream>

namespace Quendal {
namespace Updater {

CommandLine ParseCommandLine(const juce::StringArray& arguments)
{
    CommandLine line;
    bool expectSku = false;
    bool expectServer = false;
    bool relaunchMode = false;
    for (const juce::String& argument : arguments) {
        if (relaunchMode) {
            line.relaunchArgs.push_back(QuoteArgument(argument));
            line.relaunchArgsAsGiven.push_back(argument.toStdString());
        } else if (expectSku) {
            line.sku = argument.toStdString();
            expectSku = false;
        } else if (expectServer) {
            line.server = argument.toStdString();
            expectServer = false;
        } else if (argument == "--product-sku") {
            expectSku = true;
        } else if (argument == "--server") {
            expectServer = true;
        } else if (argument == "--") {
            relaunchMode = true;
        }
    }
    line.valid = !expectSku && !line.sku.empty();
    return line;
}

std::string QuoteArgument(const juce::String& argument)
{
    return argument.quoted().toStdString();
}

void PrintUsage()
{
    std::cout << "Usage: updater --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]" << std::endl;
    std::cout << "Example: updater --product-sku myproduct -- \"/Application/Quendal/My Product.app\" myarg1 myarg2"
              << std::endl;
}

} // namespace Updater
} // namespace Quendal
