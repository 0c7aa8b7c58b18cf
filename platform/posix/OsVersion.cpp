#include "platform/OsVersion.h"

#include <mutex>

namespace platform {
namespace {

std::mutex overrideMutex;
bool overridden = false;
std::optional<OsVersion> overrideVersion;

} // namespace

bool GetOsVersion(OsVersion& version)
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    if (overridden) {
        if (!overrideVersion)
            return false;
        version = *overrideVersion;
        return true;
    }
    version = OsVersion{6, 2, 0};
    return true;
}

namespace testing {

void OverrideOsVersion(std::optional<OsVersion> version)
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overridden = true;
    overrideVersion = version;
}

void ClearOsVersionOverride()
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overridden = false;
    overrideVersion.reset();
}

} // namespace testing
} // namespace platform
