#pragma once
// Typed, synchronous events.

#include <set>

namespace Quendal {

template <class E>
class IEventListener {
public:
    virtual ~IEventListener() = default;
    virtual void OnEvent(const E& event) = 0;
};

template <class E>
class EventSource {
public:
    virtual ~EventSource() = default;

    void AddListener(IEventListener<E>* listener) { listeners.insert(listener); }
    void RemoveListener(IEventListener<E>* listener) { listeners.erase(listener); }

    // Calls every listener, lowest address first, on this thread.
    void Raise(const E& event)
    {
        for (IEventListener<E>* listener : listeners) {
            if (listener != nullptr)
                listener->OnEvent(event);
        }
    }

protected:
    std::set<IEventListener<E>*> listeners;
};

} // namespace Quendal
