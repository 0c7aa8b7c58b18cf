#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents on destruction.

#include <boost/filesystem/path.hpp>

#include <string>

namespace Quendal {
namespace Testing {

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

} // namespace Testing
} // namespace Quendal
