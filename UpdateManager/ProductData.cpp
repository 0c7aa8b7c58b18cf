#include "UpdateManager/ProductData.h"

namespace Quendal {
namespace UpdateManager {

ProductData::ProductData(const std::string& downloaderName)
    : downloader(std::make_shared<DownloaderBackgrounder>(downloaderName))
{
}

ProductData::ProductData(const ProductData& other) = default;
ProductData& ProductData::operator=(const ProductData& other) = default;

// Members go in reverse order: downloader, installer, description.
ProductData::~ProductData() = default;

} // namespace UpdateManager
} // namespace Quendal
