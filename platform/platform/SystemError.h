#pragma once
#include <string>

namespace platform {

// The calling thread's last system error (errno here), read once.
struct SystemError {
    unsigned long code = 0;
    bool hasText = false; // the system describes the code
    std::string text;     // its description, without a line end
};

SystemError LastSystemError();

} // namespace platform
