#pragma once
// Waiting for a condition another thread or process brings about.

#include <chrono>
#include <functional>

namespace Quendal {
namespace Testing {

// Polls `done` every 5 ms; false when it is still false after `timeout`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace Testing
} // namespace Quendal
