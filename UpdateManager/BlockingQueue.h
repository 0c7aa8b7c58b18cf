#pragma once
// A small first-in first-out queue that threads share: a deque under a mutex,
// with a condition variable for the consumer that waits.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace Quendal {
namespace UpdateManager {

template <class T>
class BlockingQueue {
public:
    BlockingQueue() = default;
    BlockingQueue(const BlockingQueue&) = delete;
    BlockingQueue& operator=(const BlockingQueue&) = delete;

    void Push(T value)
    {
        std::lock_guard<std::mutex> lock(mutex);
        items.push_back(std::move(value));
        condition.notify_one();
    }

    // Blocks while the queue is empty.
    void WaitAndPop(T& out)
    {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [this] { return !items.empty(); });
        out = std::move(items.front());
        items.pop_front();
    }

    // False, with `out` untouched, when the queue is empty.
    bool TryPop(T& out)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (items.empty())
            return false;
        out = std::move(items.front());
        items.pop_front();
        return true;
    }

    bool Empty()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return items.empty();
    }

private:
    std::deque<T> items;
    std::mutex mutex;
    std::condition_variable condition;
};

} // namespace UpdateManager
} // namespace Quendal
