#include "platform/Executable.h"

#include <cerrno>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace platform {
namespace {

std::mutex linkMutex;
std::optional<std::string> linkOverride;

std::string LinkPath()
{
    std::lock_guard<std::mutex> lock(linkMutex);
    return linkOverride ? *linkOverride : std::string("/proc/self/exe");
}

} // namespace

bool ExecutablePath(std::string& out, int& errorCode)
{
    const std::string link = LinkPath();
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            errorCode = errno;
            return false;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            out.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2); // may have been cut: try again, larger
    }
}

namespace testing {

void SetExecutableLink(std::optional<std::string> link)
{
    std::lock_guard<std::mutex> lock(linkMutex);
    linkOverride = std::move(link);
}

} // namespace testing
} // namespace platform
