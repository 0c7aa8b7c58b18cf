#include "Common/Helpers.h"
#include "Common/Log.h"

#include <gtest/gtest.h>

TEST(Smoke, ReplaceAll)
{
    EXPECT_EQ(Quendal::ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    CSingleton<CLog>::GetInstance()->Info("x", "hello ", 1);
    CSingleton<CLog>::DestroyInstance();
}
