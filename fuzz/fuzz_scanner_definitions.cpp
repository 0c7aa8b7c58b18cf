// Any bytes as a scanner definition file: loaded or refused with a log line,
// then searched, never a crash, a hang or an exception.
//
// The known folders and the registry point into a scratch folder that holds
// one program with a version resource (see the seeds in corpus/).

#include "UpdateManager/ScannerDefinitions.h"

#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "testsupport/Files.h"
#include "testsupport/PeBuilder.h"
#include "testsupport/RegistryStores.h"

#include <boost/filesystem.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

boost::filesystem::path Scratch()
{
    static const Quendal::Testing::ScratchFolder folder;
    static const boost::filesystem::path scratch = [] {
        Quendal::Testing::WriteFile(folder / "Vendor" / "app.exe", Quendal::Testing::BuildPe().bytes);
        for (auto id : {platform::KnownFolderId::ProgramFilesX86, platform::KnownFolderId::ProgramFilesX64,
                        platform::KnownFolderId::ProgramData, platform::KnownFolderId::Profile})
            platform::testing::OverrideKnownFolder(id, folder.Path().string());
        platform::testing::UseMemoryRegistryStore();
        platform::testing::SetMemoryRegistryString(platform::RegistryHive::LocalMachine, "SOFTWARE\\Fuzz", "InstallDir",
                                                   folder.Path().string());
        return folder.Path();
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
    Quendal::Testing::WriteFile(file, std::string(reinterpret_cast<const char*>(data), size));
    const Quendal::UpdateManager::ScannerDefinitions definitions(file);
    const auto versions = definitions.CompleteScan();
    for (const auto& entry : versions) {
        if (entry.second.empty())
            __builtin_trap(); // every SKU gets a version, "unknown" or "not_installed"
        definitions.SearchVersion(entry.first.sku);
    }
    return 0;
}
