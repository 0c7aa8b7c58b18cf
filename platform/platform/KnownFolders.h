#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace platform {

enum class KnownFolderId {
    ProgramData,
    ProgramFilesX86,
    ProgramFilesX64,
    Desktop,
    Downloads,
    Profile,
};

enum class FolderLookup {
    Found,           // path set
    NotFound,        // the folder cannot be determined
    ConversionFailed // the path cannot be given as narrow text; errorCode set
};

// Size of the narrow-text buffer a folder path must fit in, terminator included.
constexpr std::size_t FolderPathBufferSize = 260;

// Looks a known folder up. The path has no trailing separator.
//
// On Linux:
//   Downloads       XDG_DOWNLOAD_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
//                   (an unset, empty or relative XDG_CONFIG_HOME means
//                   $HOME/.config), else $HOME/Downloads
//   Desktop         XDG_DESKTOP_DIR likewise, else $HOME/Desktop
//   Profile         $HOME (when unset or empty, the password database's)
//   ProgramFilesX86 /opt (add-on software, FHS)
//   ProgramFilesX64 /opt
//   ProgramData     /var/opt (its variable data)
// A user-dirs.dirs value counts when it is quoted and is "$HOME",
// "$HOME/..." or an absolute path; the last assignment holds.
// A path that is not valid UTF-8, or does not fit FolderPathBufferSize,
// gives ConversionFailed (EILSEQ or ENAMETOOLONG).
FolderLookup LookupKnownFolder(KnownFolderId id, std::string& path, int& errorCode);

namespace testing {
// Test seam: makes LookupKnownFolder answer `path` for `id` (std::nullopt:
// the folder cannot be determined). The application never calls this.
void OverrideKnownFolder(KnownFolderId id, std::optional<std::string> path);
void ClearKnownFolderOverrides();
} // namespace testing

} // namespace platform
