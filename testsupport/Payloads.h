#pragma once
// Bodies for the download and HTTP tests.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quendal {
namespace Testing {

// `size` bytes that differ from one seed to another.
std::string DownloadPayload(std::size_t size, uint32_t seed = 1);

// `size` letters in a pattern that shows shifted or doubled ranges.
std::string PatternBody(std::size_t size);

} // namespace Testing
} // namespace Quendal
