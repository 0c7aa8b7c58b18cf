#include "platform/Executable.h"

#include <cerrno>
#include <vector>

#include <unistd.h>

namespace platform {

bool ExecutablePath(std::string& out, int& errorCode)
{
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            errorCode = errno;
            return false;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            out.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace platform
