#pragma once
// Helpers for installers that come as a disk image.

#include <boost/filesystem/path.hpp>

#include <string>

namespace Quendal {
namespace UpdateManager {

// Attaches `image` at `mountPoint`, which must not exist yet. True when the
// tool succeeded and the mount point exists afterwards.
bool MountInstaller(const boost::filesystem::path& image, const boost::filesystem::path& mountPoint);

// Forcibly unmounts the volume at `mountPoint`. True when the tool succeeded
// and the mount point is gone afterwards (an empty mount-point folder left by
// the tool is removed).
bool UnmountInstaller(const boost::filesystem::path& mountPoint);

// The first regular file in `directory` whose name's extension is "." +
// `extension` (letter case counts); empty when there is none.
boost::filesystem::path FindFileWithExtension(const boost::filesystem::path& directory, const std::string& extension);

// `path` when nothing exists there, else the first of path-1, path-2, ...
// that does not exist. A file-system error is thrown.
boost::filesystem::path MakeUniquePath(const boost::filesystem::path& path);

} // namespace UpdateManager
} // namespace Quendal
