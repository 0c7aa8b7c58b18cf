// A small program the logger tests start as a child process, to read what the
// logger writes to standard output from construction to exit.
//
//   common_log_probe <scenario> [args]

#include "Common/Log.h"
#include "Common/Singleton.h"

#include "platform/Executable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

// The process-wide objects whose holders live in Globals.cpp; in this program
// they only say when they are deleted.
namespace Quendal {
class Resources : public CSingleton<Resources> {
public:
    ~Resources() override { std::cout << "Resources deleted" << std::endl; }
};
namespace UpdateManager {
class InstallThread : public CSingleton<InstallThread> {
public:
    ~InstallThread() override { std::cout << "InstallThread deleted" << std::endl; }
};
} // namespace UpdateManager
} // namespace Quendal

namespace {

CLog* Logger()
{
    return CSingleton<CLog>::GetInstance();
}

// Waits until the writer task has written out every ring.
bool WaitDrained(CLog* log)
{
    for (int i = 0; i < 1000; ++i) {
        bool drained = true;
        for (int slot = 0; slot < CLogBuffers::RingCount; ++slot) {
            int32_t r = 0;
            int32_t w = 0;
            log->SlotPositionsForTesting(slot, r, w);
            drained = drained && r == w;
        }
        if (drained)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A message of `length` bytes: "<tag>" then dots.
std::string Message(const std::string& tag, std::size_t length)
{
    std::string text = tag;
    text.resize(length, '.');
    return text;
}

// Logs `count` numbered lines and destroys the logger at once, so that they
// are still queued when the stop is asked.
int Lifecycle(int count)
{
    CLog* log = Logger();
    log->EnableCategoryForTesting("probe", CLog::Level::Debug);
    for (int i = 0; i < count; ++i)
        log->Info("probe", "queued ", i);
    CSingleton<CLog>::DestroyInstance();
    CSingleton<CLog>::DestroyInstance(); // nothing left: prints nothing
    return 0;
}

// Stops the writer twice, tries to start it again, then logs: the line
// stays in its ring.
int StopTwice()
{
    CLog* log = Logger();
    log->EnableCategoryForTesting("probe", CLog::Level::Debug);
    log->StopThread();
    log->StopThread();
    log->StartThread();
    log->Info("probe", "after stop");
    CSingleton<CLog>::DestroyInstance();
    return 0;
}

int Recreate()
{
    Logger();
    CSingleton<CLog>::DestroyInstance();
    Logger();
    CSingleton<CLog>::DestroyInstance();
    return 0;
}

// Lines of the given formatted lengths (newline included), each written out
// before the next is logged.
int Lengths(int argc, char** argv)
{
    CLog* log = Logger();
    log->EnableCategoryForTesting("probe", CLog::Level::Debug);
    std::ostringstream empty;
    const std::size_t prefix = log->Format("probe", CLog::Level::Info, empty).size() - 1;
    for (int i = 2; i < argc; ++i) {
        const std::size_t length = std::strtoul(argv[i], nullptr, 10);
        log->Info("probe", Message("m" + std::to_string(i - 1), length - prefix - 1));
        if (!WaitDrained(log))
            return 3;
    }
    CSingleton<CLog>::DestroyInstance();
    return 0;
}

// Creates the singletons in the order the letters give (c: CLog, i:
// InstallThread, r: Resources) and ends through `how` ("return", "exit").
int ExitOrder(const std::string& order, const std::string& how)
{
    for (char c : order) {
        if (c == 'c')
            Logger();
        else if (c == 'i')
            CSingleton<Quendal::UpdateManager::InstallThread>::GetInstance();
        else if (c == 'r')
            CSingleton<Quendal::Resources>::GetInstance();
    }
    std::cout << "end of main" << std::endl;
    if (how == "exit")
        std::exit(1);
    return 0;
}

int BadExecutable()
{
    platform::testing::SetExecutableLink(std::string("/nonexistent/quendal-probe-link"));
    Logger();
    CSingleton<CLog>::DestroyInstance();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string scenario = argv[1];
    if (scenario == "lifecycle")
        return Lifecycle(argc > 2 ? std::atoi(argv[2]) : 0);
    if (scenario == "stop-twice")
        return StopTwice();
    if (scenario == "recreate")
        return Recreate();
    if (scenario == "lengths")
        return Lengths(argc, argv);
    if (scenario == "exit-order" && argc > 3)
        return ExitOrder(argv[2], argv[3]);
    if (scenario == "bad-executable")
        return BadExecutable();
    if (scenario == "never") {
        CSingleton<CLog>::DestroyInstance();
        return 0;
    }
    return 2;
}
