#pragma once
#include <cstdint>

namespace platform {

// The OS id of the calling thread (the kernel thread id on Linux).
uint64_t CurrentThreadId();

} // namespace platform
