// Process-wide statics, defined in one place so that their construction
// order, and so the reverse order of their destruction at exit, is fixed.

#include "Common/Globals.h"
#include "Common/Singleton.h"

#include <iostream>

template <>
CSingleton<CLog>::Holder CSingleton<CLog>::holder{};

namespace Quendal {
namespace Updater {
std::vector<std::string> RelaunchArgs;
bool RelaunchFlag = false;
} // namespace Updater

// Set at build time: -DUPDATER_DEFAULT_RESOURCES_SERVER=host[:port].
const std::string DefaultResourcesServer = QUENDAL_DEFAULT_RESOURCES_SERVER;
const std::string DevelopmentServer = "devserver.quendal.lan:9090";
const std::string SecondaryServer = "resources2.quendal.example";
const std::string FileNameCharset = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._- (){}[]&'";
} // namespace Quendal

template <>
CSingleton<Quendal::UpdateManager::InstallThread>::Holder CSingleton<Quendal::UpdateManager::InstallThread>::holder{};

namespace Quendal {
namespace UpdateManager {
const std::string FirmwareType = "firmware";
const std::string ManualType = "manual";
const std::string WindowsPlatform = "windows";
const std::string SoftwareType = "soft";
} // namespace UpdateManager
} // namespace Quendal

template <>
CSingleton<Quendal::Resources>::Holder CSingleton<Quendal::Resources>::holder{};

namespace Quendal {
namespace UpdateManager {
const std::string HttpScheme = "http";
const std::string NotInstalledVersion = "not_installed";
const std::string UnknownVersion = "unknown";
} // namespace UpdateManager
} // namespace Quendal
