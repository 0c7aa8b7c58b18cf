#pragma once
// The engine's record per product: what is known of it, its installer state
// and its download job runner.

#include "UpdateManager/DownloaderBackgrounder.h"
#include "UpdateManager/Installer.h"
#include "UpdateManager/ProductDescription.h"

#include <memory>
#include <string>

namespace Quendal {
namespace UpdateManager {

class ProductData {
public:
    // A default description, an installer not yet set up (status Error), and
    // a new download job runner whose worker is named `downloaderName`
    // ("soft/SKU").
    explicit ProductData(const std::string& downloaderName);
    // Copies share the download job runner; the last one destroys it.
    ProductData(const ProductData& other);
    ProductData& operator=(const ProductData& other);
    // Releases the downloader first, then the installer and the description.
    ~ProductData();

    ProductDescription description;
    Installer installer;
    std::shared_ptr<DownloaderBackgrounder> downloader;
};

} // namespace UpdateManager
} // namespace Quendal
