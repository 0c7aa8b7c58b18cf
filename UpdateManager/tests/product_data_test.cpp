// The engine's record per product and its shared download job runner.

#include "UpdateManager/ProductData.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using Quendal::Testing::LogCapture;
using Quendal::UpdateManager::DownloaderBackgrounder;
using Quendal::UpdateManager::DownloadState;
using Quendal::UpdateManager::ProductData;
using Quendal::UpdateManager::UpdateStatus;

namespace {

TEST(ProductData, NewRecord)
{
    LogCapture log({"download"});
    {
        ProductData data("soft/ABC");
        EXPECT_EQ(data.description.localVersion, "");
        EXPECT_EQ(data.description.sku, "");
        EXPECT_EQ(data.description.permalink, "");
        EXPECT_EQ(data.description.size, 0u);
        EXPECT_FALSE(data.installer.IsInitialised());
        EXPECT_EQ(data.installer.GetStatus(), UpdateStatus::Error);
        EXPECT_EQ(data.installer.GetProgress(), -1.0);
        EXPECT_EQ(data.installer.GetByteCount(), 0);
        ASSERT_NE(data.downloader, nullptr);
        EXPECT_EQ(data.downloader.use_count(), 1);
        EXPECT_EQ(data.downloader->GetState(), DownloadState::Idle);
        EXPECT_TRUE(log.WaitFor("ActiveDownloader Start Threadsoft/ABC"));
    }
    EXPECT_TRUE(log.Contains("ActiveDownloader Exit Threadsoft/ABC"));
}

TEST(ProductData, CopiesShareTheDownloaderAndTheLastDestroysIt)
{
    LogCapture log({"download"});
    std::weak_ptr<DownloaderBackgrounder> runner;
    std::optional<ProductData> copy;
    {
        ProductData first("soft/XYZ");
        first.description.sku = "XYZ";
        first.installer.SetStatus(UpdateStatus::UpdateNeeded);
        runner = first.downloader;

        copy.emplace(first);
        EXPECT_EQ(copy->downloader.get(), first.downloader.get());
        EXPECT_EQ(first.downloader.use_count(), 2);
        EXPECT_EQ(copy->description.sku, "XYZ");
        EXPECT_EQ(copy->installer.GetStatus(), UpdateStatus::UpdateNeeded);

        // The description and the installer are the copy's own.
        copy->installer.SetStatus(UpdateStatus::DownloadPaused);
        copy->description.sku = "other";
        EXPECT_EQ(first.installer.GetStatus(), UpdateStatus::UpdateNeeded);
        EXPECT_EQ(first.description.sku, "XYZ");

        ProductData assigned("soft/TMP");
        assigned = first;
        EXPECT_EQ(assigned.downloader.get(), first.downloader.get());
        EXPECT_EQ(first.downloader.use_count(), 3);
        EXPECT_TRUE(log.WaitFor("ActiveDownloader Exit Threadsoft/TMP")) << "the replaced runner was not destroyed";
    }
    ASSERT_FALSE(runner.expired()) << "destroying the first record destroyed the shared runner";
    EXPECT_EQ(copy->downloader.use_count(), 1);
    EXPECT_FALSE(log.Contains("ActiveDownloader Exit Threadsoft/XYZ"));

    copy.reset();
    EXPECT_TRUE(runner.expired());
    EXPECT_TRUE(log.Contains("ActiveDownloader Exit Threadsoft/XYZ")) << "the worker was not joined";
}

} // namespace
