#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// Both strerror_r flavours: the GNU one returns the text, the XSI one fills
// the buffer and returns 0.
[[maybe_unused]] const char* ErrorText(const char* result, const char*)
{
    return result;
}
[[maybe_unused]] const char* ErrorText(int result, const char* buffer)
{
    return result == 0 ? buffer : nullptr;
}

} // namespace

SystemError LastSystemError()
{
    SystemError error;
    int code = errno;
    error.code = static_cast<unsigned long>(static_cast<unsigned int>(code));
    char buffer[512] = {};
    const char* text = ErrorText(strerror_r(code, buffer, sizeof buffer), buffer);
    if (text != nullptr && text[0] != '\0') {
        error.hasText = true;
        error.text = text;
    }
    errno = code;
    return error;
}

} // namespace platform
