#include "platform/Display.h"

#include <dlfcn.h>

namespace platform {

// libX11 is loaded at run time, as the GUI toolkit loads it: no link-time
// dependency on X11 for the programs that never open a window. It stays
// loaded: Xlib keeps process-wide state that must not be unmapped under the
// toolkit's feet (nor under a leak checker's).
bool HasUsableDisplay()
{
    static void* const library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr)
        return false;
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    auto openDisplay = reinterpret_cast<OpenDisplay>(dlsym(library, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<CloseDisplay>(dlsym(library, "XCloseDisplay"));
    bool usable = false;
    if (openDisplay != nullptr && closeDisplay != nullptr) {
        void* display = openDisplay(nullptr);
        if (display != nullptr) {
            usable = true;
            closeDisplay(display);
        }
    }
    return usable;
}

} // namespace platform
