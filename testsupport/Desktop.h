#pragma once
// The X display as the GUI tests see it, through the desktop tools
// (xdotool, wmctrl, xprop, ImageMagick's import).

#include <juce_graphics/juce_graphics.h>

#include <chrono>
#include <functional>
#include <string>

#include <sys/types.h>

namespace Quendal {
namespace Testing {

// DISPLAY is set and a connection to it can be opened.
bool DisplayAvailable();
// A window manager runs on the display (wmctrl answers).
bool WindowManagerRunning();

// The visible window of process `pid` with exactly this title; 0 when there
// is none yet.
unsigned long FindWindow(pid_t pid, const std::string& title);
std::string WindowName(unsigned long window);
// The value of _NET_WM_STATE as xprop prints it.
std::string WindowState(unsigned long window);
// Size of the window's client area; false when it cannot be read.
bool WindowSize(unsigned long window, int& width, int& height);

// A picture of the window's client area, also kept as the PNG `path`; an
// invalid image when it cannot be taken.
juce::Image CaptureWindow(unsigned long window, const std::string& path);

// A left click at (x, y) of the window's client area.
void ClickAt(unsigned long window, int x, int y);
// The pointer to (x, y) of the window's client area, or to the screen's corner.
void MovePointer(unsigned long window, int x, int y);
void MovePointerAway();
// Asks the window manager to close the window (WM_DELETE_WINDOW).
void CloseWithWindowManager(unsigned long window);

} // namespace Testing
} // namespace Quendal
