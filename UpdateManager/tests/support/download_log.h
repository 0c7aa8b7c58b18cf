#pragma once
// Collects the logger's lines of one test. Install it while no other thread
// logs (before workers start, after they are joined).

#include "Common/Log.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

class DownloadLogCapture : public CLogLineObserver {
public:
    // Enables the categories at level 0 and starts collecting.
    explicit DownloadLogCapture(const std::vector<std::string>& categories = {"download"});
    ~DownloadLogCapture() override;

    void OnLine(const std::string& line) override;

    std::vector<std::string> Lines() const;
    // Lines whose message part (after the level column) contains `text`.
    std::vector<std::string> Find(const std::string& text) const;
    bool Contains(const std::string& text) const { return !Find(text).empty(); }
    // Index of the first line containing `text` at or after `from`, -1 if none.
    int IndexOf(const std::string& text, int from = 0) const;
    // Waits until a line contains `text`; false after `timeout`.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    // The message part of a formatted line.
    static std::string Message(const std::string& line);

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> lines;
};

} // namespace Testing
} // namespace Quendal
