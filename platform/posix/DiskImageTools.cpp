#include "platform/DiskImageTools.h"

#include <mutex>

namespace platform {
namespace {

const char* const DefaultAttachTool = "/usr/bin/hdiutil";
const char* const DefaultUnmountTool = "/bin/umount";

std::mutex toolsMutex;
std::string attachTool = DefaultAttachTool;
std::string unmountTool = DefaultUnmountTool;

} // namespace

std::string DiskImageAttachTool()
{
    std::lock_guard<std::mutex> lock(toolsMutex);
    return attachTool;
}

std::string UnmountTool()
{
    std::lock_guard<std::mutex> lock(toolsMutex);
    return unmountTool;
}

namespace testing {

void SetDiskImageTools(const std::string& attach, const std::string& unmount)
{
    std::lock_guard<std::mutex> lock(toolsMutex);
    attachTool = attach;
    unmountTool = unmount;
}

void ResetDiskImageTools()
{
    std::lock_guard<std::mutex> lock(toolsMutex);
    attachTool = DefaultAttachTool;
    unmountTool = DefaultUnmountTool;
}

} // namespace testing
} // namespace platform
