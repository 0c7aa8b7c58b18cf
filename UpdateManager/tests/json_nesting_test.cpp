#include "UpdateManager/JsonNesting.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Quendal::UpdateManager::JsonNestingDepth;
using Quendal::UpdateManager::JsonNestingWithinLimit;
using Quendal::UpdateManager::MaxJsonNesting;

TEST(JsonNesting, CountsBracketsOutsideStrings)
{
    struct Case {
        const char* text;
        int depth;
    };
    const Case cases[] = {
        {"", 0},
        {"42", 0},
        {"{}", 1},
        {R"({"total":1,"resources":[{"sku":"a"}]})", 3},
        {R"({"a":"[[[[{{{{"})", 1},
        {R"({"a":"\"[[[["})", 1},
        {R"({"a":"\\"}[[)", 2},
        {"[[]][[[]]]", 3},
        {"]]]][", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JsonNestingDepth(c.text), c.depth) << c.text;
}

TEST(JsonNesting, RefusesDeepTextAndStopsCountingEarly)
{
    const std::string atLimit = std::string(MaxJsonNesting, '[') + std::string(MaxJsonNesting, ']');
    EXPECT_TRUE(JsonNestingWithinLimit(atLimit));
    const std::string hostile = "{\"total\":1,\"resources\":" + std::string(100000, '[');
    EXPECT_FALSE(JsonNestingWithinLimit(hostile));
    EXPECT_EQ(JsonNestingDepth(hostile), MaxJsonNesting + 1);
}

} // namespace
