// Any bytes given to the PE version reader: an answer, never a crash or a
// read outside the buffer.

#include "platform/FileVersion.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    platform::FileVersion version;
    const platform::FileVersionStatus status = platform::ParseFixedFileVersion(data, size, version);
    if (status != platform::FileVersionStatus::Found && version.major != 0)
        __builtin_trap(); // the version is written only when it was found
    return 0;
}
