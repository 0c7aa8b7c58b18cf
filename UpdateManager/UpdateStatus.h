#pragma once
// A product's status, kept in its Installer, and the status texts for log lines.

#include <string>

namespace Quendal {
namespace UpdateManager {

enum class UpdateStatus : int {
    Unknown = 0,
    UpToDate = 1,
    UpdateNeeded = 2,
    DownloadInProgress = 3,
    DownloadPaused = 4,
    DownloadError = 5,
    InstallerAvailable = 6,
    InstallerStart = 7,
    InstallInProgress = 8,
    InstallComplete = 9,
    PlatformNotSupported = 10,
    Error = 11,
};

// The status text; "<error state unknown>" for a value outside 0..11.
std::string UpdateStatusToString(int status);
std::string UpdateStatusToString(UpdateStatus status);

} // namespace UpdateManager
} // namespace Quendal
