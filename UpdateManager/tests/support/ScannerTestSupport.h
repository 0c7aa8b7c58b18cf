#pragma once
// Helpers of the version-finding tests: file writers,
// known-folder and registry-store guards.

#include "UpdateManager/ScannerDefinitions.h"
#include "UpdateManager/tests/support/ScratchFolder.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/tests/support/RegistryStores.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace Quendal {
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

namespace scanner_test {

// The categories the version-finding code writes to.
inline const std::vector<std::string> LogCategories = {"update_manager", "external", "timing", "install"};

inline void WriteText(const boost::filesystem::path& file, const std::string& text)
{
    boost::filesystem::create_directories(file.parent_path());
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out << text;
}

inline void WriteBytes(const boost::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    boost::filesystem::create_directories(file.parent_path());
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

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

} // namespace scanner_test
