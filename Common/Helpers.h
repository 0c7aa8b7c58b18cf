#pragma once
// Small helpers shared by every component.

#include "platform/KnownFolders.h"

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quendal {

enum class FolderKind {
    ProgramData = 0,
    ProgramFilesX86 = 1,
    ProgramFilesX64 = 2,
    Desktop = 3,
    Downloads = 4,
    Profile = 5,
    SystemDrive = 6,
};

using KnownFolderId = platform::KnownFolderId;

// Full path of the executable; empty when it cannot be found (the reason
// goes to standard error).
std::string GetExecutablePath();

// True with `out` set to the folder's path; false (and `out` untouched) when
// it cannot be found or given as narrow text.
bool GetKnownFolderPath(KnownFolderId id, std::string& out);
// The same by FolderKind (SystemDrive: the "SystemDrive" variable and a
// separator). Part of the design's interface; nothing calls it.
bool GetFolderPath(FolderKind kind, std::string& out);

std::string GetPathSeparator();

// Lowercase hexadecimal MD5 of the file's bytes; empty when the file is
// missing, not a regular file, or cannot be read whole.
std::string GetFileChecksum(boost::filesystem::path file);

// Size of a regular file in bytes, else 0.
uint64_t GetFileSizeOrZero(boost::filesystem::path file);

// The most a text file read from disk (scanner definitions, confirm files)
// may hold; real ones are a few kilobytes.
constexpr std::size_t MaxTextFileSize = 4 * 1024 * 1024;

enum class FileRead {
    Ok,
    Unreadable,     // missing, a folder, or a read error
    NotRegularFile, // a pipe, device or socket: never opened, as it could block or never end
    TooLarge,       // more than the limit
};

// Reads the whole of a regular file, at most `limit` bytes. `content` is
// written only when the answer is Ok.
FileRead ReadRegularFile(const boost::filesystem::path& file, std::size_t limit, std::string& content);

// Every occurrence of `from` replaced by `to`; the inserted text is not
// searched again. An empty `from` leaves the subject unchanged.
std::string ReplaceAll(const std::string& subject, const std::string& from, const std::string& to);

// A random character of 0-9, A-Z, a-z, or of FileNameCharset. Part of the
// design's interface; nothing calls them.
char RandomAlphanumericChar();
char RandomFileNameChar();

} // namespace Quendal
