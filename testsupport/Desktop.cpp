#include "testsupport/Desktop.h"

#include "platform/Display.h"
#include "testsupport/ChildProcess.h"

#include <cstdlib>
#include <sstream>

namespace Quendal {
namespace Testing {

namespace {

std::string Hex(unsigned long window)
{
    std::ostringstream text;
    text << "0x" << std::hex << window;
    return text.str();
}

} // namespace

bool DisplayAvailable()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0' && platform::HasUsableDisplay();
}

bool WindowManagerRunning()
{
    int code = -1;
    RunAndRead({"wmctrl", "-m"}, &code);
    return code == 0;
}

unsigned long FindWindow(pid_t pid, const std::string& title)
{
    std::string found =
        RunAndRead({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid), "--name", "^" + title + "$"});
    std::istringstream lines(found);
    unsigned long window = 0;
    lines >> window;
    return window;
}

std::string WindowName(unsigned long window)
{
    std::string name = RunAndRead({"xdotool", "getwindowname", std::to_string(window)});
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

std::string WindowState(unsigned long window)
{
    return RunAndRead({"xprop", "-id", Hex(window), "_NET_WM_STATE"});
}

bool WindowSize(unsigned long window, int& width, int& height)
{
    // "WIDTH=300\nHEIGHT=100\n..." among other lines
    std::string text = RunAndRead({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)});
    std::istringstream lines(text);
    std::string line;
    bool gotWidth = false;
    bool gotHeight = false;
    while (std::getline(lines, line)) {
        if (line.rfind("WIDTH=", 0) == 0) {
            width = std::atoi(line.c_str() + 6);
            gotWidth = true;
        } else if (line.rfind("HEIGHT=", 0) == 0) {
            height = std::atoi(line.c_str() + 7);
            gotHeight = true;
        }
    }
    return gotWidth && gotHeight;
}

juce::Image CaptureWindow(unsigned long window, const std::string& path)
{
    int code = -1;
    RunAndRead({"import", "-window", Hex(window), path}, &code);
    if (code != 0)
        return {};
    return juce::ImageFileFormat::loadFrom(juce::File(path));
}

void ClickAt(unsigned long window, int x, int y)
{
    // XTest requests are handled in order: the click lands after the move.
    RunAndRead({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y),
                "click", "1"});
}

void MovePointer(unsigned long window, int x, int y)
{
    RunAndRead({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y)});
}

void MovePointerAway()
{
    RunAndRead({"xdotool", "mousemove", "0", "0"});
}

void CloseWithWindowManager(unsigned long window)
{
    RunAndRead({"wmctrl", "-i", "-c", Hex(window)});
}

} // namespace Testing
} // namespace Quendal
