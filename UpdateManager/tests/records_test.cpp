#include "UpdateManager/ProductDescription.h"
#include "UpdateManager/ProductKey.h"
#include "UpdateManager/UpdateEvents.h"
#include "UpdateManager/UpdateStatus.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace Quendal::UpdateManager;

namespace {

struct KeyOrderCase {
    ProductKey a;
    ProductKey b;
    bool aLess;
    bool bLess;
};

} // namespace

TEST(ProductKey, OrdersBySkuThenTypeBytewise)
{
    const std::vector<KeyOrderCase> cases = {
        {{"A", "soft"}, {"B", "firmware"}, true, false},
        {{"A", "firmware"}, {"A", "soft"}, true, false},
        {{"A", "soft"}, {"AB", "soft"}, true, false},
        {{"a", "soft"}, {"B", "soft"}, false, true},        // byte order: 'B' < 'a'
        {{"A", "soft"}, {"A", "soft"}, false, false},       // not less than itself
        {{"", ""}, {"", "soft"}, true, false},              // empty texts allowed
        {{"\xC3\xA9", "soft"}, {"z", "soft"}, false, true}, // unsigned bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a.sku + "/" + c.a.type + " vs " + c.b.sku + "/" + c.b.type);
        EXPECT_EQ(c.a < c.b, c.aLess);
        EXPECT_EQ(c.b < c.a, c.bLess);
        const bool equal = !c.aLess && !c.bLess;
        EXPECT_EQ(c.a == c.b, equal);
        EXPECT_EQ(c.a != c.b, !equal);
    }
}

TEST(ProductKey, MapKeepsKeysThatDifferOnlyInTypeApart)
{
    // A sku that prefixes another and a type that differs must never merge entries.
    std::map<ProductKey, int> products;
    products[ProductKey("A", "soft")] = 1;
    products[ProductKey("A", "firmware")] = 2;
    products[ProductKey("AB", "soft")] = 3;
    products[ProductKey("A", "soft")] = 4;
    ASSERT_EQ(products.size(), 3u);
    std::vector<int> order;
    for (const auto& entry : products)
        order.push_back(entry.second);
    EXPECT_EQ(order, (std::vector<int>{2, 4, 3}));
    EXPECT_EQ(products.count(ProductKey("B", "soft")), 0u);
}

TEST(UpdateStatus, TextsAndOutOfRangeValues)
{
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "unknown"},
        {1, "up-to-date"},
        {2, "update needed"},
        {3, "download in progress"},
        {4, "download paused"},
        {5, "download error"},
        {6, "installer available"},
        {7, "installer start"},
        {8, "install in progress"},
        {9, "install complete"},
        {10, "latest update doesn't support this OS"},
        {11, "error"},
        {12, "<error state unknown>"},
        {-1, "<error state unknown>"},
        {INT32_MIN, "<error state unknown>"},
        {INT32_MAX, "<error state unknown>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpdateStatusToString(c.first), c.second) << c.first;

    EXPECT_EQ(static_cast<int>(UpdateStatus::PlatformNotSupported), 10);
    EXPECT_EQ(UpdateStatusToString(UpdateStatus::Error), "error");
    EXPECT_EQ(UpdateStatusToString(UpdateStatus::Unknown), "unknown");
}

TEST(ProductDescription, Defaults)
{
    const ProductDescription empty;
    EXPECT_TRUE(empty.localVersion.empty() && empty.name.empty() && empty.sku.empty() && empty.type.empty() &&
                empty.version.empty() && empty.permalink.empty() && empty.productPage.empty() &&
                empty.releaseNotes.empty() && empty.platformMinVersion.empty() && empty.platformMaxVersion.empty() &&
                empty.platformDisplayVersion.empty() && empty.checksum.empty());
    EXPECT_EQ(empty.size, 0u);
}

TEST(Events, ConstructionDefaults)
{
    const ProductKey key("ABC", "soft");

    DownloadProgressEvent progress(key);
    EXPECT_EQ(progress.key, key);
    EXPECT_EQ(progress.progress, 0.0);
    EXPECT_FALSE(progress.completed);

    EXPECT_EQ(ProductChangedEvent(key).key, key);

    const InstallFinishedEvent finished(key, true);
    EXPECT_EQ(finished.key, key);
    EXPECT_TRUE(finished.success);
    EXPECT_FALSE(InstallFinishedEvent(key, false).success);
}
