#pragma once
// The key that names one product: its SKU and its resource type.

#include <string>

namespace Quendal {
namespace UpdateManager {

struct ProductKey {
    ProductKey(const std::string& sku, const std::string& type)
        : sku(sku)
        , type(type)
    {
    }

    // By sku, then by type; plain byte-wise string order.
    bool operator<(const ProductKey& other) const
    {
        if (sku < other.sku)
            return true;
        if (other.sku < sku)
            return false;
        return type < other.type;
    }
    bool operator==(const ProductKey& other) const { return sku == other.sku && type == other.type; }
    bool operator!=(const ProductKey& other) const { return !(*this == other); }

    std::string sku;
    std::string type; // "soft" for software products
};

} // namespace UpdateManager
} // namespace Quendal
