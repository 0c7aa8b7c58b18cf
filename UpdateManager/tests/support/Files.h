#pragma once
// Whole-file reads and writes for the tests.

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// Writes `content` as the whole file; throws when it cannot.
void WriteFile(const boost::filesystem::path& path, const std::string& content);
// The whole file, empty when it cannot be read.
std::string ReadFile(const boost::filesystem::path& path);
std::vector<std::string> ReadLines(const boost::filesystem::path& path);
// -1 when the file does not exist.
int64_t FileSizeOf(const boost::filesystem::path& path);

} // namespace Testing
} // namespace Quendal
