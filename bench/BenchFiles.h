#pragma once
// What the benchmarks share: big scratch files of random bytes and md5sum's
// answer for a file.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace Bench {

// `size` bytes of xorshift noise (no two blocks alike, nothing to compress).
inline void WriteRandomBytes(std::ostream& out, int64_t size)
{
    std::vector<uint64_t> block(128 * 1024); // 1 MiB
    uint64_t x = 88172645463325252ull;
    for (int64_t written = 0; written < size && out;) {
        for (uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const int64_t bytes = std::min<int64_t>(size - written, static_cast<int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char*>(block.data()), bytes);
        written += bytes;
    }
}

// The checksum md5sum prints for the file; empty when it fails.
inline std::string Md5sumOf(const std::string& file)
{
    const std::string command = "md5sum '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::string();
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!got)
        return std::string();
    const std::string text(line);
    return text.substr(0, text.find(' '));
}

} // namespace Bench
