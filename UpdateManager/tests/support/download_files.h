#pragma once
// Scratch folders and file helpers for the download tests.

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quendal {
namespace Testing {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end.
class DownloadScratchFolder {
public:
    DownloadScratchFolder();
    ~DownloadScratchFolder();
    DownloadScratchFolder(const DownloadScratchFolder&) = delete;
    DownloadScratchFolder& operator=(const DownloadScratchFolder&) = delete;

    const boost::filesystem::path& Path() const { return path; }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    boost::filesystem::path path;
};

// `size` bytes that differ from one seed to another.
std::string DownloadPayload(std::size_t size, uint32_t seed = 1);

void WriteWholeFile(const std::string& file, const std::string& bytes);
std::string ReadWholeFile(const std::string& file);
// -1 when the file does not exist.
int64_t FileSizeOf(const std::string& file);

} // namespace Testing
} // namespace Quendal
