#pragma once
#include <string>

namespace platform {

// Full path of the running executable. False with errorCode set when the
// lookup fails; the caller reports it.
bool ExecutablePath(std::string& out, int& errorCode);

} // namespace platform
