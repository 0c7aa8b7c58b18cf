#include "testsupport/Payloads.h"

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

std::string PatternBody(std::size_t size)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return body;
}

} // namespace Testing
} // namespace Quendal
