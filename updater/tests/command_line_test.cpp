#include "updater/CommandLine.h"
#include "updater/Relaunch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Quendal::Updater::CommandLine;
using Quendal::Updater::ParseCommandLine;
using Quendal::Updater::QuoteArgument;
using Quendal::Updater::RelaunchProgramPath;

namespace {

struct LineCase {
    const char* label;
    std::vector<std::string> args;
    bool valid;
    std::string sku;
    std::string server;
    std::vector<std::string> relaunch;      // quoted forms
    std::vector<std::string> relaunchGiven; // as given
};

void PrintTo(const LineCase& c, std::ostream* out)
{
    *out << c.label;
}

juce::StringArray Strings(const std::vector<std::string>& args)
{
    juce::StringArray strings;
    for (const std::string& arg : args)
        strings.add(juce::String::fromUTF8(arg.c_str()));
    return strings;
}

class CommandLineCases : public ::testing::TestWithParam<LineCase> { };

TEST_P(CommandLineCases, Parse)
{
    const LineCase& c = GetParam();
    CommandLine line = ParseCommandLine(Strings(c.args));
    EXPECT_EQ(line.valid, c.valid);
    if (c.valid) {
        EXPECT_EQ(line.sku, c.sku);
        EXPECT_EQ(line.server, c.server);
    }
    EXPECT_EQ(line.relaunchArgs, c.relaunch);
    EXPECT_EQ(line.relaunchArgsAsGiven, c.relaunchGiven);
}

const LineCase lineCases[] = {
    {"NoArguments", {}, false, "", "", {}, {}},
    {"SkuOptionLast", {"--product-sku"}, false, "", "", {}, {}},
    {"EmptySku", {"--product-sku", ""}, false, "", "", {}, {}},
    {"ServerOnly", {"--server", "host:1"}, false, "", "", {}, {}},
    {"OptionsAreCaseSensitive", {"--Product-Sku", "A"}, false, "", "", {}, {}},
    {"NoJoinedValue", {"--product-sku=A"}, false, "", "", {}, {}},
    {"SkuAfterRelaunchMarker",
     {"--", "--product-sku", "A"},
     false,
     "",
     "",
     {"\"--product-sku\"", "\"A\""},
     {"--product-sku", "A"}},
    {"SkuOnly", {"--product-sku", "A"}, true, "A", "", {}, {}},
    {"TrailingServerKeepsDefault", {"--product-sku", "A", "--server"}, true, "A", "", {}, {}},
    {"TrailingServerKeepsEarlierValue",
     {"--server", "h:1", "--product-sku", "A", "--server"},
     true,
     "A",
     "h:1",
     {},
     {}},
    {"RepeatedSkuTakesLast", {"--product-sku", "A", "--product-sku", "B"}, true, "B", "", {}, {}},
    {"RepeatedServerTakesLast", {"--server", "h", "--server", "k:8", "--product-sku", "A"}, true, "A", "k:8", {}, {}},
    {"ValueThatLooksLikeServerOption", {"--product-sku", "--server"}, true, "--server", "", {}, {}},
    {"ValueThatLooksLikeMarker", {"--product-sku", "--"}, true, "--", "", {}, {}},
    {"ServerValueThatLooksLikeOption", {"--server", "--product-sku", "A"}, false, "", "", {}, {}},
    {"OtherArgumentsIgnored", {"x", "--product-sku", "A", "y"}, true, "A", "", {}, {}},
    {"Utf8Sku", {"--product-sku", "produ\xc3\xa9"}, true, "produ\xc3\xa9", "", {}, {}},
    {"RelaunchPart",
     {"--product-sku", "A", "--", "prog", "a b", "", "--"},
     true,
     "A",
     "",
     {"\"prog\"", "\"a b\"", "\"\"", "\"--\""},
     {"prog", "a b", "", "--"}},
    {"OptionsAfterMarkerBelongToRelaunch",
     {"--product-sku", "A", "--", "--product-sku", "B", "--server", "h"},
     true,
     "A",
     "",
     {"\"--product-sku\"", "\"B\"", "\"--server\"", "\"h\""},
     {"--product-sku", "B", "--server", "h"}},
    {"QuotesAlreadyThere",
     {"--product-sku", "A", "--", "\"start", "end\"", "\"both\"", "\""},
     true,
     "A",
     "",
     {"\"start\"", "\"end\"", "\"both\"", "\""},
     {"\"start", "end\"", "\"both\"", "\""}},
    {"MarkerBeforeSku", {"--server", "h", "--product-sku", "A", "--", "p"}, true, "A", "h", {"\"p\""}, {"p"}},
};

INSTANTIATE_TEST_SUITE_P(Table, CommandLineCases, ::testing::ValuesIn(lineCases),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.label); });

TEST(QuoteArgument, AddsOnlyMissingQuotes)
{
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("\""), "\"");
    EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteArgument("\"a"), "\"a\"");
    EXPECT_EQ(QuoteArgument("a\""), "\"a\"");
    EXPECT_EQ(QuoteArgument("a\"b"), "\"a\"b\"");
}

struct PathCase {
    std::string quoted;
    std::string path;
};

TEST(RelaunchProgramPath, RemovesOneQuoteAtEachEnd)
{
    const PathCase cases[] = {
        {"\"prog\"", "prog"}, {"\"/opt/My Product/run\"", "/opt/My Product/run"},
        {"\"\"", ""}, // an empty argument
        {"\"", ""},   // a lone double quote
        {"\"\"\"", "\""},     {"\"\"x\"\"", "\"x\""},
        {"prog", "prog"},     {"\"x", "x"},
        {"x\"", "x"},         {"", ""},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(RelaunchProgramPath(c.quoted), c.path) << c.quoted;
}

TEST(RelaunchProgramPath, OfEveryQuotedArgumentIsTheArgument)
{
    for (const char* given : {"prog", "./relaunch.sh", "a b", "--"})
        EXPECT_EQ(RelaunchProgramPath(QuoteArgument(given)), given);
}

} // namespace
