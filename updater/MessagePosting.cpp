#include "updater/MessagePosting.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iostream>

namespace Quendal {
namespace Updater {

namespace {
// Room kept for " (0x", eight hex digits, ")" and the terminator.
constexpr unsigned int ReservedCharacters = 16;
constexpr unsigned int PostFailureCapacity = 256;
} // namespace

char* formatLastSystemError(char* buffer, unsigned int capacity)
{
    if (capacity < ReservedCharacters) {
        if (capacity != 0)
            buffer[0] = '\0';
        return buffer;
    }
    platform::SystemError error = platform::LastSystemError();
    if (!error.hasText) {
        buffer[0] = '\0';
        return buffer;
    }
    int precision = static_cast<int>(std::min<unsigned int>(capacity - ReservedCharacters, INT_MAX));
    std::snprintf(buffer, capacity, "%.*s (0x%lx)", precision, error.text.c_str(), error.code);
    return buffer;
}

std::string PostFailureLine()
{
    char text[PostFailureCapacity];
    formatLastSystemError(text, PostFailureCapacity);
    return std::string("[ERROR] PostMessage Windows Failed : ") + text + "\n";
}

void ReportPostFailure()
{
    std::cout << PostFailureLine() << std::flush;
}

} // namespace Updater
} // namespace Quendal
