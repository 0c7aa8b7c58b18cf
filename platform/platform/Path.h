#pragma once

namespace platform {

// This platform's path separator.
constexpr char PathSeparator = '/';

} // namespace platform
