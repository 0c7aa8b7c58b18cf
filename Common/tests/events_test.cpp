// Synchronous events: order of delivery, duplicates, removal, null entries.

#include "Common/Events.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

struct Ping {
    int value = 0;
};

struct Recorder : Quendal::IEventListener<Ping> {
    void OnEvent(const Ping& event) override
    {
        calls->push_back(id);
        lastEvent = &event;
        if (throws)
            throw std::runtime_error("listener failed");
    }
    int id = 0;
    std::vector<int>* calls = nullptr;
    const Ping* lastEvent = nullptr;
    bool throws = false;
};

class Source : public Quendal::EventSource<Ping> { };

// Two listeners at increasing addresses, ids 0 and 1.
struct Pair {
    Pair()
    {
        for (int i = 0; i < 2; ++i) {
            listeners[i].id = i;
            listeners[i].calls = &calls;
        }
    }
    Recorder listeners[2];
    std::vector<int> calls;
};

TEST(Events, RaiseWithoutListenersDoesNothing)
{
    Source source;
    source.Raise(Ping{});
}

TEST(Events, LowerAddressIsCalledFirstWhateverTheOrderOfAdding)
{
    Pair pair;
    Source source;
    source.AddListener(&pair.listeners[1]);
    source.AddListener(&pair.listeners[0]);
    const Ping event{7};
    source.Raise(event);
    EXPECT_EQ(pair.calls, (std::vector<int>{0, 1}));
    EXPECT_EQ(pair.listeners[0].lastEvent, &event) << "the same event object, by reference";
    EXPECT_EQ(pair.listeners[1].lastEvent, &event);
}

TEST(Events, AListenerAddedTwiceIsCalledOnceAndRemovedOnce)
{
    Pair pair;
    Source source;
    source.AddListener(&pair.listeners[0]);
    source.AddListener(&pair.listeners[0]);
    source.Raise(Ping{});
    EXPECT_EQ(pair.calls, (std::vector<int>{0}));

    source.RemoveListener(&pair.listeners[0]);
    source.Raise(Ping{});
    EXPECT_EQ(pair.calls, (std::vector<int>{0}));
}

TEST(Events, RemovingAListenerNeverAddedChangesNothing)
{
    Pair pair;
    Source source;
    source.AddListener(&pair.listeners[0]);
    source.RemoveListener(&pair.listeners[1]);
    source.RemoveListener(nullptr);
    source.Raise(Ping{});
    EXPECT_EQ(pair.calls, (std::vector<int>{0}));
}

TEST(Events, ANullListenerIsSkipped)
{
    Pair pair;
    Source source;
    source.AddListener(nullptr);
    source.AddListener(&pair.listeners[1]);
    source.Raise(Ping{});
    EXPECT_EQ(pair.calls, (std::vector<int>{1}));
}

TEST(Events, AThrowingListenerStopsTheWalk)
{
    Pair pair;
    pair.listeners[0].throws = true;
    Source source;
    source.AddListener(&pair.listeners[1]);
    source.AddListener(&pair.listeners[0]);
    EXPECT_THROW(source.Raise(Ping{}), std::runtime_error);
    EXPECT_EQ(pair.calls, (std::vector<int>{0}));
}

} // namespace
