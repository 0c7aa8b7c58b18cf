// Any bytes as a scanner definition file: loaded or refused with a log line,
// then searched, never a crash, a hang or an exception.
//
// The known folders and the registry point into a scratch folder that holds
// one program with a version resource (see the seeds in corpus/).

#include "UpdateManager/ScannerDefinitions.h"

#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/tests/support/RegistryStores.h"
#include "platform/tests/support/PeBuilder.h"

#include <boost/filesystem.hpp>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

boost::filesystem::path Scratch()
{
    static const boost::filesystem::path scratch = [] {
        const boost::filesystem::path folder =
            boost::filesystem::temp_directory_path() / ("fuzz-scanner-" + std::to_string(getpid()));
        boost::filesystem::create_directories(folder / "Vendor");
        pe_test::WriteFile((folder / "Vendor" / "app.exe").string(), pe_test::BuildPe().bytes);
        for (auto id : {platform::KnownFolderId::ProgramFilesX86, platform::KnownFolderId::ProgramFilesX64,
                        platform::KnownFolderId::ProgramData, platform::KnownFolderId::Profile})
            platform::testing::OverrideKnownFolder(id, folder.string());
        platform::testing::UseMemoryRegistryStore();
        platform::testing::SetMemoryRegistryString(platform::RegistryHive::LocalMachine, "SOFTWARE\\Fuzz",
                                                   "InstallDir", folder.string());
        return folder;
    }();
    return scratch;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const boost::filesystem::path file = Scratch() / "definitions.json";
    // A fresh file each time: rewriting one in place makes some file systems
    // flush it to disk on close.
    boost::system::error_code ec;
    boost::filesystem::remove(file, ec);
    {
        std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const Quendal::UpdateManager::ScannerDefinitions definitions(file);
    const auto versions = definitions.CompleteScan();
    for (const auto& entry : versions) {
        if (entry.second.empty())
            __builtin_trap(); // every SKU gets a version, "unknown" or "not_installed"
        definitions.SearchVersion(entry.first.sku);
    }
    return 0;
}
