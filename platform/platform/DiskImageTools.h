#pragma once
// Where the disk-image tools are: the tool that attaches an image at a mount
// point ("hdiutil attach <image> -mountpoint <folder>") and the tool that
// unmounts a volume ("umount -f <folder>").

#include <string>

namespace platform {

// "/usr/bin/hdiutil" unless a test replaced it.
std::string DiskImageAttachTool();

// "/bin/umount" unless a test replaced it.
std::string UnmountTool();

namespace testing {
// Test seams; the application never calls them.
void SetDiskImageTools(const std::string& attachTool, const std::string& unmountTool);
void ResetDiskImageTools();
} // namespace testing

} // namespace platform
