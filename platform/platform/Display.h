#pragma once

namespace platform {

// True when a graphical session can be reached: on X11 a connection to the
// display named by DISPLAY can be opened (it is closed again at once).
// Platforms whose desktop is always there answer true.
bool HasUsableDisplay();

} // namespace platform
