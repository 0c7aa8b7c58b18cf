#include "UpdateManager/JsonNesting.h"

namespace Quendal {
namespace UpdateManager {

int JsonNestingDepth(std::string_view text, int limit)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > deepest) {
                deepest = depth;
                if (deepest > limit)
                    return deepest;
            }
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
            break;
        default:
            break;
        }
    }
    return deepest;
}

} // namespace UpdateManager
} // namespace Quendal
