#include "updater/MessagePosting.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

using Quendal::Updater::formatLastSystemError;
using Quendal::Updater::PostFailureLine;

namespace {

std::string Format(int code, unsigned int capacity)
{
    std::vector<char> buffer(capacity + 1, 'x');
    errno = code;
    char* result = formatLastSystemError(buffer.data(), capacity);
    EXPECT_EQ(result, buffer.data());
    EXPECT_EQ(buffer[capacity], 'x') << "written past the capacity";
    return std::string(buffer.data(), capacity == 0 ? 0 : std::strlen(buffer.data()));
}

TEST(FormatLastSystemError, CapacityZeroLeavesTheBufferAlone)
{
    char buffer[4] = {'x', 'y', 'z', '\0'};
    errno = ENOENT;
    EXPECT_EQ(formatLastSystemError(buffer, 0), buffer);
    EXPECT_STREQ(buffer, "xyz");
}

TEST(FormatLastSystemError, CapacityBelowSixteenGivesTheEmptyText)
{
    for (unsigned int capacity = 1; capacity < 16; ++capacity)
        EXPECT_EQ(Format(ENOENT, capacity), "") << capacity;
}

TEST(FormatLastSystemError, KeepsSixteenCharactersForTheCode)
{
    const std::string text = std::strerror(ENOENT);
    EXPECT_EQ(Format(ENOENT, 16), " (0x2)");
    EXPECT_EQ(Format(ENOENT, 20), text.substr(0, 4) + " (0x2)");
    for (unsigned int capacity = 16; capacity < 16 + text.size() + 4; ++capacity) {
        std::string expected = text.substr(0, capacity - 16) + " (0x2)";
        EXPECT_EQ(Format(ENOENT, capacity), expected) << capacity;
    }
    EXPECT_EQ(Format(ENOENT, 256), text + " (0x2)");
}

TEST(FormatLastSystemError, CodeInLowerCaseHex)
{
    EXPECT_EQ(Format(EPIPE, 256), std::string(std::strerror(EPIPE)) + " (0x20)");
    EXPECT_EQ(Format(ENAMETOOLONG, 256), std::string(std::strerror(ENAMETOOLONG)) + " (0x24)");
    // The widest code fits the sixteen characters kept free.
    EXPECT_EQ(Format(0x7fffffff, 16), " (0x7fffffff)");
    EXPECT_EQ(Format(0, 256), std::string(std::strerror(0)) + " (0x0)");
}

TEST(PostFailureLine, PrefixTextAndLineEnd)
{
    errno = EAGAIN;
    EXPECT_EQ(PostFailureLine(),
              "[ERROR] PostMessage Windows Failed : " + std::string(std::strerror(EAGAIN)) + " (0xb)\n");
}

} // namespace
