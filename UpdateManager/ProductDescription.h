#pragma once
// Everything known of one product: what is installed and what the resources
// web service says of its latest release.

#include <cstdint>
#include <string>

namespace Quendal {
namespace UpdateManager {

class ProductDescription {
public:
    // True when the running OS lies within [platformMinVersion,
    // platformMaxVersion]; an empty text is no bound, an unreadable one fails.
    bool IsPlatformSupported() const;

    std::string localVersion; // installed version ("0.0", a dotted version, "not_installed", "unknown")
    std::string name;
    std::string sku;
    std::string type;
    std::string version;   // latest release
    std::string permalink; // installer download URL
    std::string productPage;
    std::string releaseNotes;       // "file://" + release notes file, or empty
    std::string platformMinVersion; // major.minor.servicepack
    std::string platformMaxVersion;
    std::string platformDisplayVersion;
    uint64_t size = 0;    // installer size in bytes, 0 when unknown
    std::string checksum; // installer MD5 as hex, empty when unknown
};

} // namespace UpdateManager
} // namespace Quendal
