#include "UpdateManager/tests/support/download_files.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace Quendal {
namespace Testing {

std::string DownloadPayload(std::size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x & 0xff);
    }
    return bytes;
}

void WriteWholeFile(const std::string& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file);
}

std::string ReadWholeFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int64_t FileSizeOf(const std::string& file)
{
    boost::system::error_code ec;
    const uintmax_t size = boost::filesystem::file_size(file, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

} // namespace Testing
} // namespace Quendal
