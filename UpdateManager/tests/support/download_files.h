#pragma once
// File helpers for the download tests.

#include "UpdateManager/tests/support/ScratchFolder.h"

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quendal {
namespace Testing {

// `size` bytes that differ from one seed to another.
std::string DownloadPayload(std::size_t size, uint32_t seed = 1);

void WriteWholeFile(const std::string& file, const std::string& bytes);
std::string ReadWholeFile(const std::string& file);
// -1 when the file does not exist.
int64_t FileSizeOf(const std::string& file);

} // namespace Testing
} // namespace Quendal
