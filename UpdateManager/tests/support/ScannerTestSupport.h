#pragma once
// Helpers of the version-finding tests: temporary folders, file writers,
// known-folder and registry-store guards.

#include "platform/KnownFolders.h"
#include "platform/Registry.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace scanner_test {

// The categories the version-finding code writes to.
inline const std::vector<std::string> LogCategories = {"update_manager", "external", "timing", "install"};

// A fresh folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir()
        : path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("scanner-test-%%%%-%%%%-%%%%"))
    {
        boost::filesystem::create_directories(path);
    }
    ~TempDir()
    {
        boost::system::error_code ec;
        boost::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    boost::filesystem::path path;
};

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
