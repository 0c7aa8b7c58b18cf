#include "testsupport/Files.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace fs = boost::filesystem;

namespace Quendal {
namespace Testing {

ScratchFolder::ScratchFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/quendal-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("cannot create a scratch folder from " + pattern);
    path = pattern;
}

ScratchFolder::~ScratchFolder()
{
    boost::system::error_code ec;
    fs::remove_all(path, ec);
    if (!ec)
        return;
    // A test took permissions away: give them back to every folder, then remove.
    fs::permissions(path, fs::add_perms | fs::owner_all, ec);
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        if (fs::is_directory(it->symlink_status()))
            fs::permissions(it->path(), fs::add_perms | fs::owner_all, ec);
        ec.clear();
    }
    fs::remove_all(path, ec);
}

namespace {

void Write(const fs::path& path, const char* data, std::size_t size)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    fs::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

void WriteFile(const fs::path& path, const std::string& content)
{
    Write(path, content.data(), content.size());
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& content)
{
    Write(path, reinterpret_cast<const char*>(content.data()), content.size());
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
    return SplitLines(ReadFile(path));
}

std::vector<std::string> SplitAt(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    return SplitAt(text, '\n');
}

int64_t FileSizeOf(const fs::path& path)
{
    boost::system::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

} // namespace Testing
} // namespace Quendal
