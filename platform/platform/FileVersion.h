#pragma once
// The file version of a Windows program or installer: the fixed part of the
// version resource (VS_FIXEDFILEINFO dwFileVersionMS / dwFileVersionLS) of a
// PE32 or PE32+ file. The product version is not read.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct FileVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

enum class FileVersionStatus {
    Found,
    Unreadable,        // missing, not a regular file, or a read error
    NotPeFile,         // no MZ / PE header, or an unknown optional header
    NoVersionResource, // no resources, or none of type RT_VERSION
    NoFixedInfo,       // a version resource without its fixed part
    Malformed,         // an offset or size that leaves its bounds, a bad structure
};

// Reads the fixed file version from the version resource of the file at
// `path`. `version` is written only when the answer is Found. Only the
// headers and the resource structures are read, not the whole file.
FileVersionStatus ReadFixedFileVersion(const std::string& path, FileVersion& version);

// The same over a file image in memory.
FileVersionStatus ParseFixedFileVersion(const uint8_t* data, std::size_t size, FileVersion& version);

} // namespace platform
