#pragma once
#include <optional>
#include <string>

namespace platform {

// Full path of the running executable (on Linux the target of
// /proc/self/exe, whole). False with errorCode set (errno) when the lookup
// fails; the caller reports it.
bool ExecutablePath(std::string& out, int& errorCode);

namespace testing {
// Test seam: ExecutablePath reads the symbolic link `link` instead of
// /proc/self/exe (std::nullopt: back to normal). The application never calls
// this.
void SetExecutableLink(std::optional<std::string> link);
} // namespace testing

} // namespace platform
