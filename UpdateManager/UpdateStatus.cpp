#include "UpdateManager/UpdateStatus.h"

namespace Quendal {
namespace UpdateManager {

std::string UpdateStatusToString(int status)
{
    static const char* const texts[] = {
        "unknown",
        "up-to-date",
        "update needed",
        "download in progress",
        "download paused",
        "download error",
        "installer available",
        "installer start",
        "install in progress",
        "install complete",
        "latest update doesn't support this OS",
        "error",
    };
    constexpr unsigned count = sizeof(texts) / sizeof(texts[0]);
    if (static_cast<unsigned>(status) >= count)
        return "<error state unknown>";
    return texts[status];
}

std::string UpdateStatusToString(UpdateStatus status)
{
    return UpdateStatusToString(static_cast<int>(status));
}

} // namespace UpdateManager
} // namespace Quendal
