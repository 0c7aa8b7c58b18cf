#pragma once
// Scratch folders and whole-file reads and writes for the tests.

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// A fresh folder under the temporary folder ($TMPDIR, else /tmp), removed
// with everything in it on destruction, whatever the test left locked.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const boost::filesystem::path& Path() const { return path; }
    boost::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    boost::filesystem::path path;
};

// Writes `content` as the whole file, creating missing parent folders;
// throws when it cannot, so that a failed write fails the test.
void WriteFile(const boost::filesystem::path& path, const std::string& content);
void WriteFile(const boost::filesystem::path& path, const std::vector<uint8_t>& content);

// The whole file, empty when it cannot be read.
std::string ReadFile(const boost::filesystem::path& path);
// The file's lines, as SplitLines gives them.
std::vector<std::string> ReadLines(const boost::filesystem::path& path);

// The text split at each `separator`; the text after the last one, when not
// empty, is the last element.
std::vector<std::string> SplitAt(const std::string& text, char separator);
// The text split at each newline.
std::vector<std::string> SplitLines(const std::string& text);

// -1 when the file does not exist.
int64_t FileSizeOf(const boost::filesystem::path& path);

} // namespace Testing
} // namespace Quendal
