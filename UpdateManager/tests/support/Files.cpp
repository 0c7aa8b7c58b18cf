#include "UpdateManager/tests/support/Files.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace Quendal {
namespace Testing {

void WriteFile(const fs::path& path, const std::string& content)
{
    fs::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path)
{
    fs::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::istringstream in(ReadFile(path));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

int64_t FileSizeOf(const fs::path& path)
{
    boost::system::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

} // namespace Testing
} // namespace Quendal
