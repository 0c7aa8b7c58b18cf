#pragma once
// Process-wide objects created on first use and deleted once.

#include <atomic>
#include <mutex>

template <class T>
class CSingleton {
public:
    // The one T, created on first use. Never null; a failed creation throws
    // and the next call tries again.
    static T* GetInstance()
    {
        CSingleton<T>* object = holder.instance.load(std::memory_order_acquire);
        if (object == nullptr) {
            std::lock_guard<std::mutex> lock(holder.instanceMutex);
            object = holder.instance.load(std::memory_order_relaxed);
            if (object == nullptr) {
                object = new T();
                holder.instance.store(object, std::memory_order_release);
            }
        }
        return static_cast<T*>(object);
    }

    // Deletes the one T when it exists.
    static void DestroyInstance()
    {
        if (holder.instance.load(std::memory_order_acquire) == nullptr)
            return;
        std::lock_guard<std::mutex> lock(holder.instanceMutex);
        CSingleton<T>* object = holder.instance.exchange(nullptr, std::memory_order_acq_rel);
        delete object;
    }

    virtual ~CSingleton() = default;

protected:
    CSingleton() = default;

public:
    // Class-level state of one T. A holder still owning its object at exit
    // deletes it before its mutex goes away.
    struct Holder {
        Holder() noexcept { } // dynamic initialisation: ordered within its translation unit
        ~Holder()
        {
            std::lock_guard<std::mutex> lock(instanceMutex);
            delete instance.exchange(nullptr, std::memory_order_acq_rel);
        }
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;

        std::atomic<CSingleton<T>*> instance{nullptr};
        std::mutex instanceMutex;
    };

private:
    static Holder holder;
};

// Holders of any other T (tests).
template <class T>
typename CSingleton<T>::Holder CSingleton<T>::holder;

// The system's own singletons have their holders defined together, in a fixed
// order, in Globals.cpp, so that at exit they are deleted in the reverse
// order: Resources, then InstallThread, then CLog.
class CLog;
namespace Quendal {
class Resources;
namespace UpdateManager {
class InstallThread;
}
} // namespace Quendal

template <>
CSingleton<CLog>::Holder CSingleton<CLog>::holder;
template <>
CSingleton<Quendal::UpdateManager::InstallThread>::Holder CSingleton<Quendal::UpdateManager::InstallThread>::holder;
template <>
CSingleton<Quendal::Resources>::Holder CSingleton<Quendal::Resources>::holder;
