#pragma once
// Process-wide constant texts and the application's relaunch state.

#include <string>
#include <vector>

namespace Quendal {

extern const std::string DefaultResourcesServer;
extern const std::string DevelopmentServer;
extern const std::string SecondaryServer;
// Characters of RandomFileNameChar (74).
extern const std::string FileNameCharset;

namespace UpdateManager {
extern const std::string FirmwareType;
extern const std::string ManualType;
extern const std::string WindowsPlatform;
extern const std::string SoftwareType;
extern const std::string HttpScheme;
extern const std::string NotInstalledVersion;
extern const std::string UnknownVersion;
} // namespace UpdateManager

namespace Updater {
// The product's command line to start after a completed install.
extern std::vector<std::string> RelaunchArgs;
// Set when the product is to be relaunched at exit.
extern bool RelaunchFlag;
} // namespace Updater

} // namespace Quendal
