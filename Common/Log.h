#pragma once
// The process-wide logger: per-thread rings drained to standard output by
// one writer task.

#include "Common/LogCategories.h"
#include "Common/Singleton.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

class CLogBuffers {
public:
    static constexpr int RingCount = 20;
    static constexpr int RingSize = 10000;
    static constexpr int MaxTextLength = 9999;
    static constexpr int StagingOffset = RingCount * RingSize;
    static constexpr int BlockSize = StagingOffset + RingSize;

    struct Slot {
        std::atomic<std::thread::id> owner{std::thread::id()};
        std::atomic<bool> inUse{false};
        std::atomic<int32_t> readPos{0};  // written by the writer task only
        std::atomic<int32_t> writePos{0}; // written by the owning thread only
    };

    CLogBuffers();
    ~CLogBuffers();
    CLogBuffers(const CLogBuffers&) = delete;
    CLogBuffers& operator=(const CLogBuffers&) = delete;

    // Copies `length` bytes (clamped to 0..9,999) into the calling thread's ring.
    void Write(const char* text, int length);
    // Writes the unread text of every ring to standard output.
    void Flush();
    void WriterLoop();
    void StartThread();
    void StopThread();

    // Test seams; the application never calls them.
    // No writer task is ever started for this object: the caller drains the
    // rings with Flush itself. Call before the first Write.
    void UseManualFlushForTesting();
    // The positions of ring `index` (0..19): false for another index.
    bool SlotPositionsForTesting(int index, int32_t& readPos, int32_t& writePos) const;

protected:
    std::string executablePath;
    std::mutex startStopMutex;
    std::atomic<bool> stopRequested{true};
    std::future<void> writerFuture;
    std::unique_ptr<char[]> block;
    Slot slots[RingCount];

private:
    // Set once a writer task was started: the log path tests it without
    // taking startStopMutex.
    std::atomic<bool> writerStarted{false};
    std::mutex wakeMutex;
    std::condition_variable wake;
};

// Receives every formatted line (tests).
class CLogLineObserver {
public:
    virtual ~CLogLineObserver() = default;
    virtual void OnLine(const std::string& line) = 0;
};

class CLog : public CLogBuffers, public CSingleton<CLog> {
public:
    // Levels: the line shows the name of the level.
    struct Level {
        enum : int { Debug = 0, Info = 1, Notice = 2, Warning = 3, Error = 4, Except = 5, Assert = 6 };
    };

    CLog();
    ~CLog() override;

    template <class... Parts>
    void Log(const char* category, int level, const Parts&... parts)
    {
        if (!IsEnabled(std::string(category != nullptr ? category : ""), level))
            return;
        std::ostringstream message;
        Print(message, parts...);
        Write(category, level, message);
    }

    template <class... Parts>
    void Debug(const char* category, const Parts&... parts)
    {
        Log(category, Level::Debug, parts...);
    }
    template <class... Parts>
    void Info(const char* category, const Parts&... parts)
    {
        Log(category, Level::Info, parts...);
    }
    template <class... Parts>
    void Notice(const char* category, const Parts&... parts)
    {
        Log(category, Level::Notice, parts...);
    }
    template <class... Parts>
    void Warning(const char* category, const Parts&... parts)
    {
        Log(category, Level::Warning, parts...);
    }
    template <class... Parts>
    void Error(const char* category, const Parts&... parts)
    {
        Log(category, Level::Error, parts...);
    }

    static void Print(std::ostream&) { }
    template <class First, class... Rest>
    static void Print(std::ostream& stream, const First& first, const Rest&... rest)
    {
        PrintPart(stream, first);
        Print(stream, rest...);
    }

    bool IsEnabled(const std::string& category, int level) const;
    void Write(const char* category, int level, std::ostringstream& message);
    std::string Format(const char* category, int level, std::ostringstream& message) const;

    using CLogBuffers::Write;

    // Test seams; the application never calls them. Call them while no
    // other thread logs.
    void EnableCategoryForTesting(const std::string& category, int threshold);
    void ClearCategoriesForTesting();
    void SetLineObserverForTesting(CLogLineObserver* observer);
    void SetStartTimeForTesting(int64_t ticks);

private:
    // A path: its text in double quotes, '&' before every '"' and '&'.
    static void PrintPart(std::ostream& stream, const boost::filesystem::path& path);
    // A null C string writes nothing (the stream would fail on it).
    static void PrintPart(std::ostream& stream, const char* text)
    {
        if (text != nullptr)
            stream << text;
    }
    static void PrintPart(std::ostream& stream, char* text) { PrintPart(stream, static_cast<const char*>(text)); }
    template <class Part>
    static void PrintPart(std::ostream& stream, const Part& part)
    {
        stream << part;
    }

    CLogLineObserver* lineObserver = nullptr;
    std::map<std::string, int> categoryLevels;
    int64_t startTime = 0;
};

// The process-wide logger, created on first use: Logger().Info(LogCategory::Install, ...).
inline CLog& Logger()
{
    return *CSingleton<CLog>::GetInstance();
}
