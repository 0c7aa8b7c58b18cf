// Process-wide objects: one construction however many threads ask at once,
// deletion, creation again, a failing constructor; and the constant texts.

#include "Common/Globals.h"
#include "Common/Log.h"
#include "Common/Singleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

std::atomic<int> slowConstructions{0};
std::atomic<int> slowDestructions{0};

class Slow : public CSingleton<Slow> {
public:
    Slow()
    {
        ++slowConstructions;
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // others arrive meanwhile
        value = 42;
    }
    ~Slow() override { ++slowDestructions; }
    int value = 0;
};

TEST(Singleton, ManyThreadsAtOnceGetOneObjectConstructedOnce)
{
    constexpr int Threads = 16;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<Slow*> seen(Threads, nullptr);
    std::vector<int> values(Threads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            Slow* object = CSingleton<Slow>::GetInstance();
            seen[static_cast<std::size_t>(i)] = object;
            values[static_cast<std::size_t>(i)] = object->value; // fully built when seen
        });
    }
    while (ready.load() < Threads)
        std::this_thread::yield();
    go = true;
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(slowConstructions.load(), 1);
    EXPECT_EQ(std::set<Slow*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_NE(seen[0], nullptr);
    for (int value : values)
        EXPECT_EQ(value, 42);

    CSingleton<Slow>::DestroyInstance();
    EXPECT_EQ(slowDestructions.load(), 1);
    CSingleton<Slow>::DestroyInstance();
    EXPECT_EQ(slowDestructions.load(), 1) << "nothing left to delete";
}

int countedConstructions = 0;
int countedDestructions = 0;

class Counted : public CSingleton<Counted> {
public:
    Counted() { ++countedConstructions; }
    ~Counted() override { ++countedDestructions; }
};

TEST(Singleton, DestroyWithoutObjectDoesNothingAndCreationWorksAgainAfterDestroy)
{
    CSingleton<Counted>::DestroyInstance();
    EXPECT_EQ(countedConstructions, 0);
    EXPECT_EQ(countedDestructions, 0);

    Counted* first = CSingleton<Counted>::GetInstance();
    EXPECT_EQ(CSingleton<Counted>::GetInstance(), first);
    EXPECT_EQ(countedConstructions, 1);
    CSingleton<Counted>::DestroyInstance();
    EXPECT_EQ(countedDestructions, 1);

    CSingleton<Counted>::GetInstance();
    EXPECT_EQ(countedConstructions, 2);
    CSingleton<Counted>::DestroyInstance();
    EXPECT_EQ(countedDestructions, 2);
}

int failingAttempts = 0;

class FailsOnce : public CSingleton<FailsOnce> {
public:
    FailsOnce()
    {
        if (++failingAttempts == 1)
            throw std::runtime_error("first construction fails");
    }
};

TEST(Singleton, AFailedConstructionThrowsAndTheNextCallTriesAgain)
{
    EXPECT_THROW(CSingleton<FailsOnce>::GetInstance(), std::runtime_error);
    FailsOnce* object = nullptr;
    EXPECT_NO_THROW(object = CSingleton<FailsOnce>::GetInstance());
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(failingAttempts, 2);
    CSingleton<FailsOnce>::DestroyInstance();
}

TEST(Singleton, TheLoggerIsOneObjectForAllThreads)
{
    CLog* here = CSingleton<CLog>::GetInstance();
    std::vector<CLog*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = CSingleton<CLog>::GetInstance(); });
    for (std::thread& t : threads)
        t.join();
    for (CLog* log : seen)
        EXPECT_EQ(log, here);
    CSingleton<CLog>::DestroyInstance();
}

TEST(Globals, ConstantTexts)
{
    using namespace Quendal;
    EXPECT_EQ(FileNameCharset.size(), 74u);
    EXPECT_EQ(FileNameCharset.back(), '\'');
    EXPECT_EQ(FileNameCharset, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._- (){}[]&'");
    EXPECT_EQ(UpdateManager::SoftwareType, "soft");
    EXPECT_EQ(UpdateManager::FirmwareType, "firmware");
    EXPECT_EQ(UpdateManager::ManualType, "manual");
    EXPECT_EQ(UpdateManager::WindowsPlatform, "windows");
    EXPECT_EQ(UpdateManager::NotInstalledVersion, "not_installed");
    EXPECT_EQ(UpdateManager::UnknownVersion, "unknown");
    EXPECT_EQ(UpdateManager::HttpScheme, "http");
    EXPECT_FALSE(DefaultResourcesServer.empty());
    EXPECT_EQ(DefaultResourcesServer, EXPECTED_DEFAULT_RESOURCES_SERVER); // the build-time setting
    EXPECT_NE(DevelopmentServer.find(":9090"), std::string::npos);
    EXPECT_FALSE(SecondaryServer.empty());
    EXPECT_TRUE(Updater::RelaunchArgs.empty());
    EXPECT_FALSE(Updater::RelaunchFlag);
}

} // namespace
