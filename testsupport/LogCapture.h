#pragma once
// Collects the logger's lines while it lives. Create and destroy it while no
// other thread logs (before workers start, after they are joined); reading
// it is safe while they log.

#include "Common/Log.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// One logged line taken apart: category and level name without padding,
// message without its final newline.
struct LogLine {
    std::string category;
    std::string level; // "debug", "info", "notice", "warning", "error"
    std::string message;

    bool operator==(const LogLine& other) const
    {
        return category == other.category && level == other.level && message == other.message;
    }
    bool operator!=(const LogLine& other) const { return !(*this == other); }
};

// "category | level | message"
std::ostream& operator<<(std::ostream& out, const LogLine& line);

class LogCapture : public CLogLineObserver {
public:
    // Enables `categories` at level 0 (none: the test enables what it
    // needs) and starts collecting; the destructor detaches and clears every
    // enabled category.
    explicit LogCapture(const std::vector<std::string>& categories = {});
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void OnLine(const std::string& line) override;

    std::vector<LogLine> Lines() const;
    std::vector<LogLine> Lines(const std::string& category) const;
    // The lines as the logger formatted them.
    std::vector<std::string> RawLines() const;

    // Lines whose message contains `text`.
    std::vector<LogLine> Find(const std::string& text) const;
    bool Contains(const std::string& text) const { return !Find(text).empty(); }
    // Lines at `level` whose message contains `text`.
    int Count(const std::string& level, const std::string& text) const;
    // Index of the first line at or after `from` whose message contains `text`, -1 if none.
    int IndexOf(const std::string& text, int from = 0) const;
    // A line in `category` at `level` whose message is exactly `message`.
    bool Has(const std::string& category, const std::string& level, const std::string& message) const;
    // The same for a message that begins with `prefix` and ends with `suffix`
    // (an error text from a library in between).
    bool HasLike(const std::string& category, const std::string& level, const std::string& prefix,
                 const std::string& suffix) const;
    // Waits until a message contains `text`; false after `timeout`.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    void Clear();

    // The lines one a row, for failure messages.
    std::string Describe() const { return Describe(Lines()); }
    static std::string Describe(const std::vector<LogLine>& lines);

    // "[LOG] time | thread | category | level | message\n" taken apart; a
    // line without the four columns is kept whole as the message.
    static LogLine Parse(const std::string& line);

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> raw;
    std::vector<LogLine> lines;
};

} // namespace Testing
} // namespace Quendal
