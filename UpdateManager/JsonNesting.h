#pragma once
// A guard for the recursive JSON reader: text nested deeper than a fixed limit
// is refused before it is parsed, so a hostile answer cannot exhaust the stack.

#include <string_view>

namespace Quendal {
namespace UpdateManager {

// Real web answers, scanner definitions and confirm files nest a handful of
// levels; this leaves ample room.
constexpr int MaxJsonNesting = 64;

// The deepest nesting of arrays and objects in `text`, counting brackets
// outside string literals (escapes included). Stops counting once `limit` is
// passed and returns a value above it.
int JsonNestingDepth(std::string_view text, int limit = MaxJsonNesting);

// True when the text nests no deeper than MaxJsonNesting.
inline bool JsonNestingWithinLimit(std::string_view text)
{
    return JsonNestingDepth(text) <= MaxJsonNesting;
}

} // namespace UpdateManager
} // namespace Quendal
