#pragma once
// The events that the update manager raises.

#include "UpdateManager/ProductKey.h"

namespace Quendal {
namespace UpdateManager {

// The product list was refreshed.
struct ProductListChangedEvent { };

// One product's state changed.
struct ProductChangedEvent {
    explicit ProductChangedEvent(const ProductKey& key)
        : key(key)
    {
    }
    ProductKey key;
};

// A product's download moved on (progress 0..1) or completed.
struct DownloadProgressEvent {
    explicit DownloadProgressEvent(const ProductKey& key)
        : key(key)
    {
    }
    ProductKey key;
    double progress = 0.0;
    bool completed = false;
};

// An installer came back from the install thread.
struct InstallFinishedEvent {
    InstallFinishedEvent(const ProductKey& key, bool success)
        : key(key)
        , success(success)
    {
    }
    ProductKey key;
    bool success;
};

} // namespace UpdateManager
} // namespace Quendal
