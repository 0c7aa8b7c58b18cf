#pragma once
// Payloads for the download tests.

#include "UpdateManager/tests/support/Files.h"
#include "UpdateManager/tests/support/ScratchFolder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quendal {
namespace Testing {

// `size` bytes that differ from one seed to another.
std::string DownloadPayload(std::size_t size, uint32_t seed = 1);

} // namespace Testing
} // namespace Quendal
