#include "UpdateManager/DiskImage.h"

#include "Common/Log.h"

#include "platform/DiskImageTools.h"
#include "platform/Process.h"

#include <boost/filesystem/operations.hpp>

#include <vector>

namespace Quendal {
namespace UpdateManager {
namespace {

namespace fs = boost::filesystem;

// A path as one tool argument: a relative path that starts with '-' gets
// "./" in front, so that the tool cannot take it for an option.
std::string ToolArgument(const fs::path& path)
{
    const std::string text = path.string();
    if (!text.empty() && text[0] == '-')
        return "./" + text;
    return text;
}

} // namespace

bool MountInstaller(const fs::path& image, const fs::path& mountPoint)
{
    Logger().Info(LogCategory::Install, "Mounting installer.");
    try {
        if (!fs::exists(image) || !fs::is_regular_file(image)) {
            Logger().Error(LogCategory::Install, image, " is not a valid file and cannot be mounted");
            return false;
        }
        if (fs::exists(mountPoint)) {
            Logger().Error(LogCategory::Install, "The target directory ", mountPoint, " already exists ");
            return false;
        }

        // The tool gets each path as one argument; no shell is involved.
        const std::string tool = platform::DiskImageAttachTool();
        const std::vector<std::string> args = {tool, "attach", ToolArgument(image), "-mountpoint",
                                               ToolArgument(mountPoint)};
        Logger().Debug(LogCategory::Install, tool, " attach ", args[2], " -mountpoint ", args[4]);
        const int result = platform::SpawnAndWait(tool, args);
        Logger().Debug(LogCategory::Install, "Returned ", result);

        if (result == 0 && fs::exists(mountPoint)) {
            Logger().Debug(LogCategory::Install, mountPoint, " has been succesfully mounted.");
            return true;
        }
        Logger().Error(LogCategory::Install, "Failed to mount ", mountPoint, " (returned ", result, ")");
        return false;
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::Install, "Failed to mount volume for installer: ", e.what());
        return false;
    }
}

bool UnmountInstaller(const fs::path& mountPoint)
{
    try {
        if (!fs::exists(mountPoint)) {
            Logger().Error(LogCategory::Install, "Cannot unmount ", mountPoint,
                           " because the directory does not exist");
            return false;
        }

        const std::string tool = platform::UnmountTool();
        const int result = platform::SpawnAndWait(tool, {tool, "-f", ToolArgument(mountPoint)});

        // umount leaves the mount-point folder behind; remove it when it is
        // an empty folder (not a link), as the mount tool created it.
        if (result == 0 && fs::symlink_status(mountPoint).type() == fs::directory_file) {
            boost::system::error_code ec;
            if (fs::is_empty(mountPoint, ec) && !ec)
                fs::remove(mountPoint, ec);
        }

        if (result == 0 && !fs::exists(mountPoint)) {
            Logger().Debug(LogCategory::Install, mountPoint, " unmounted succesfully");
            return true;
        }
        Logger().Error(LogCategory::Install, "Could not unmount ", mountPoint, " (returned ", result, ")");
        return false;
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::Install, "Failed to unmount", mountPoint, ": ", e.what());
        return false;
    }
}

fs::path FindFileWithExtension(const fs::path& directory, const std::string& extension)
{
    fs::path result;
    try {
        if (fs::exists(directory)) {
            for (fs::directory_iterator it(directory), end; it != end; ++it) {
                if (!fs::is_regular_file(it->status()))
                    continue;
                const std::string text = it->path().string();
                const bool match = it->path().extension().string() == "." + extension;
                Logger().Debug(LogCategory::Install, text, match ? " has " : " does not have ", " the extension ",
                               extension);
                if (match) {
                    result = it->path();
                    break;
                }
            }
        }
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::UpdateManager, "Error when trying to find file with extension ", extension,
                       " in directory ", directory, " : ", e.what());
        result.clear();
    }
    return result;
}

fs::path MakeUniquePath(const fs::path& path)
{
    fs::path candidate = path;
    for (unsigned long n = 1; fs::exists(candidate); ++n)
        candidate = fs::path(path.string() + "-" + std::to_string(n));
    return candidate;
}

} // namespace UpdateManager
} // namespace Quendal
