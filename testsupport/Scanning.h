#pragma once
// Helpers of the version-finding tests: the log categories that code writes
// to, and a guard of the platform seams the tests set.

#include "Common/LogCategories.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"

#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

inline const std::vector<std::string> ScannerLogCategories = {LogCategory::UpdateManager, LogCategory::External,
                                                              LogCategory::Timing, LogCategory::Install};

// Undoes known-folder overrides and the registry store at the end.
class PlatformGuard {
public:
    PlatformGuard() = default;
    ~PlatformGuard()
    {
        platform::testing::ClearKnownFolderOverrides();
        platform::testing::ClearRegistryStore();
    }
    PlatformGuard(const PlatformGuard&) = delete;
    PlatformGuard& operator=(const PlatformGuard&) = delete;
};

} // namespace Testing
} // namespace Quendal
