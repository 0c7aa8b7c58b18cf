#include "Common/Log.h"
#include "Common/Helpers.h"

#include "platform/Clock.h"
#include "platform/Thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iomanip>
#include <iostream>

namespace {

const char* const LevelNames[] = {"debug", "info", "notice", "warning", "error", "except", "assert"};

// One whole output operation on standard output, flushed.
void WriteStdout(const std::string& text)
{
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout.flush();
}

} // namespace

CLogBuffers::CLogBuffers()
    : executablePath(Quendal::GetExecutablePath())
    , block(new char[BlockSize]())
{
}

CLogBuffers::~CLogBuffers()
{
    StopThread();
}

void CLogBuffers::Write(const char* text, int length)
{
    int n = std::clamp(length, 0, MaxTextLength);
    if (text == nullptr) {
        text = "";
        n = 0;
    }

    StartThread();

    const std::thread::id self = std::this_thread::get_id();
    Slot* slot = nullptr;
    int index = 0;
    for (; index < RingCount; ++index) {
        Slot& candidate = slots[index];
        bool expected = false;
        if (candidate.inUse.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            candidate.owner.store(self, std::memory_order_release);
            slot = &candidate;
            break;
        }
        if (candidate.owner.load(std::memory_order_acquire) == self) {
            slot = &candidate;
            break;
        }
    }

    if (slot == nullptr) {
        std::string out = "WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE CORRUPTED.\n";
        out.append(text, static_cast<std::size_t>(n));
        out += '\n';
        WriteStdout(out);
        return;
    }

    const int32_t w = slot->writePos.load(std::memory_order_relaxed);
    const int32_t r = slot->readPos.load(std::memory_order_acquire);
    const bool overrun = (r > w && w + n >= r) || (r < w && w + n > RingSize && w + n - RingSize >= r);
    if (overrun) {
        // The text has reached standard output; the older unread text stays.
        std::string out = " [WRITE] Writing too fast, no time to read ! Msg: ";
        out.append(text, static_cast<std::size_t>(n));
        out += '\n';
        WriteStdout(out);
        return;
    }

    char* ring = block.get() + static_cast<std::ptrdiff_t>(index) * RingSize;
    int32_t next;
    if (w + n > RingSize) {
        const int first = RingSize - w;
        std::memcpy(ring + w, text, static_cast<std::size_t>(first));
        std::memcpy(ring, text + first, static_cast<std::size_t>(n - first));
        next = w + n - RingSize;
    } else {
        std::memcpy(ring + w, text, static_cast<std::size_t>(n));
        next = w + n;
    }
    slot->writePos.store(next, std::memory_order_release);
}

void CLogBuffers::Flush()
{
    char* staging = block.get() + StagingOffset;
    for (int index = 0; index < RingCount; ++index) {
        Slot& slot = slots[index];
        if (!slot.inUse.load(std::memory_order_acquire))
            continue;
        const int32_t w = slot.writePos.load(std::memory_order_acquire);
        const int32_t r = slot.readPos.load(std::memory_order_relaxed);
        if (w == r)
            continue;

        const char* ring = block.get() + static_cast<std::ptrdiff_t>(index) * RingSize;
        std::memset(staging, 0, RingSize);
        std::size_t copied;
        if (w > r) {
            copied = static_cast<std::size_t>(w - r);
            std::memcpy(staging, ring + r, copied);
        } else {
            const std::size_t tail = static_cast<std::size_t>(RingSize - r);
            std::memcpy(staging, ring + r, tail);
            std::memcpy(staging + tail, ring, static_cast<std::size_t>(w));
            copied = tail + static_cast<std::size_t>(w);
        }
        slot.readPos.store(w, std::memory_order_release);

        std::cout.write(staging, static_cast<std::streamsize>(copied));
        std::cout.flush();
    }
}

void CLogBuffers::UseManualFlushForTesting()
{
    std::lock_guard<std::mutex> lock(startStopMutex);
    if (writerFuture.valid())
        return;
    std::promise<void> done;
    done.set_value();
    writerFuture = done.get_future();
    writerStarted.store(true, std::memory_order_release);
}

bool CLogBuffers::SlotPositionsForTesting(int index, int32_t& readPos, int32_t& writePos) const
{
    if (index < 0 || index >= RingCount)
        return false;
    readPos = slots[index].readPos.load(std::memory_order_acquire);
    writePos = slots[index].writePos.load(std::memory_order_acquire);
    return true;
}

void CLogBuffers::WriterLoop()
{
    while (!stopRequested.load(std::memory_order_acquire)) {
        Flush();
        std::unique_lock<std::mutex> lock(wakeMutex);
        wake.wait_for(lock, std::chrono::milliseconds(200),
                      [this] { return stopRequested.load(std::memory_order_acquire); });
    }
    Flush();
}

void CLogBuffers::StartThread()
{
    if (writerStarted.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(startStopMutex);
    if (writerFuture.valid())
        return;
    WriteStdout("LOG - START THREAD " + executablePath + "\n");
    stopRequested.store(false, std::memory_order_release);
    writerFuture = std::async(std::launch::async, &CLogBuffers::WriterLoop, this);
    writerStarted.store(true, std::memory_order_release);
}

void CLogBuffers::StopThread()
{
    if (!writerStarted.load(std::memory_order_acquire))
        return;
    WriteStdout("LOG - STOP THREAD asked " + executablePath + "\n");
    {
        std::lock_guard<std::mutex> lock(startStopMutex);
        {
            std::lock_guard<std::mutex> wakeLock(wakeMutex);
            stopRequested.store(true, std::memory_order_release);
        }
        wake.notify_all();
        writerFuture.wait();
    }
    WriteStdout("LOG FLUSH DONE " + executablePath + "\n");
}

CLog::CLog()
{
    std::cout.clear();
    WriteStdout("#### Log engine initialization.\n");
    startTime = platform::SystemTimeTicks();
    StartThread();
}

CLog::~CLog()
{
    StopThread();
    WriteStdout("#### Log engine destruction.\n");
}

void CLog::PrintPart(std::ostream& stream, const boost::filesystem::path& path)
{
    const std::string text = path.string();
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (char c : text) {
        if (c == '"' || c == '&')
            quoted += '&';
        quoted += c;
    }
    quoted += '"';
    stream << quoted;
}

bool CLog::IsEnabled(const std::string& category, int level) const
{
    auto it = categoryLevels.find(category);
    return it != categoryLevels.end() && level >= it->second;
}

std::string CLog::Format(const char* category, int level, std::ostringstream& message) const
{
    const int64_t elapsed = (platform::SystemTimeTicks() - startTime) / platform::TicksPerMillisecond;
    std::ostringstream line;
    line << std::left;
    line << "[LOG] ";
    line << std::setw(6) << static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(elapsed)));
    line << " | ";
    line << std::setw(5) << platform::CurrentThreadId();
    line << " | ";
    line << std::setw(15) << (category != nullptr ? category : "");
    line << " | ";
    if (level >= 0 && level <= 6)
        line << std::setw(6) << LevelNames[level];
    else
        line << std::setw(6) << level;
    line << " | ";
    line << message.str();
    line << '\n';
    return line.str();
}

void CLog::Write(const char* category, int level, std::ostringstream& message)
{
    std::string line = Format(category, level, message);
    if (line.size() > static_cast<std::size_t>(MaxTextLength)) {
        // Cut to the limit, keeping a newline at its end so that the next
        // line starts on its own.
        char& last = line[static_cast<std::size_t>(MaxTextLength - 1)];
        const char kept = last;
        last = '\n';
        CLogBuffers::Write(line.data(), MaxTextLength);
        last = kept;
    } else {
        CLogBuffers::Write(line.data(), static_cast<int>(line.size()));
    }
    if (lineObserver != nullptr)
        lineObserver->OnLine(line);
}

void CLog::EnableCategoryForTesting(const std::string& category, int threshold)
{
    categoryLevels[category] = threshold;
}

void CLog::ClearCategoriesForTesting()
{
    categoryLevels.clear();
}

void CLog::SetLineObserverForTesting(CLogLineObserver* observer)
{
    lineObserver = observer;
}

void CLog::SetStartTimeForTesting(int64_t ticks)
{
    startTime = ticks;
}
