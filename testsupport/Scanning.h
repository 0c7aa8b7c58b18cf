#pragma once
// Helpers of the version-finding tests: the log categories that code writes
// to, a guard of the platform seams the tests set, and a probe of what the
// loaded definitions keep to themselves (header only, like HttpBody.h).

#include "Common/LogCategories.h"
#include "UpdateManager/ScannerDefinitions.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "testsupport/RegistryStores.h"

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

namespace UpdateManager {

// What ScannerDefinitions keeps to itself.
struct ScannerDefinitionsProbe {
    static bool IsLoaded(const ScannerDefinitions& definitions) { return definitions.loaded; }

    // Number of finders of one SKU; -1 when the SKU has no definitions.
    static int FinderCount(const ScannerDefinitions& definitions, const std::string& sku)
    {
        const auto it = definitions.definitions.find(sku);
        return it == definitions.definitions.end() ? -1 : static_cast<int>(it->second.Count());
    }
};

} // namespace UpdateManager
} // namespace Quendal
