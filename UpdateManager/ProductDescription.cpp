#include "UpdateManager/ProductDescription.h"

namespace Quendal {
namespace UpdateManager {

ProductDescription::ProductDescription()
    : size(0)
{
}

ProductDescription::ProductDescription(const ProductDescription& other)
    : localVersion(other.localVersion)
    , name(other.name)
    , sku(other.sku)
    , type(other.type)
    , version(other.version)
    , permalink(other.permalink)
    , productPage(other.productPage)
    , releaseNotes(other.releaseNotes)
    , platformMinVersion(other.platformMinVersion)
    , platformMaxVersion(other.platformMaxVersion)
    , platformDisplayVersion(other.platformDisplayVersion)
    , size(other.size)
    , checksum(other.checksum)
{
}

ProductDescription& ProductDescription::operator=(const ProductDescription& other)
{
    if (this == &other)
        return *this;
    localVersion = other.localVersion;
    name = other.name;
    sku = other.sku;
    type = other.type;
    version = other.version;
    permalink = other.permalink;
    productPage = other.productPage;
    releaseNotes = other.releaseNotes;
    platformMinVersion = other.platformMinVersion;
    platformMaxVersion = other.platformMaxVersion;
    platformDisplayVersion = other.platformDisplayVersion;
    size = other.size;
    checksum = other.checksum;
    return *this;
}

} // namespace UpdateManager
} // namespace Quendal
