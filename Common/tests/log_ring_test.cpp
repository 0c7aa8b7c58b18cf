// The per-thread rings: positions at the ring's end, wrapping, overruns, the
// length limit and more threads than rings. These tests drain the rings
// themselves (no writer task) and read what reaches standard output.

#include "Common/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const std::string OverrunWarning = " [WRITE] Writing too fast, no time to read ! Msg: ";
const std::string ThreadsWarning = "WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE CORRUPTED.\n";

// A ring set without a writer task; the test drains it.
class ManualRings {
public:
    ManualRings() { rings->UseManualFlushForTesting(); }
    ~ManualRings()
    {
        CaptureStdout(); // the stop lines of the destructor
        rings.reset();
        GetCapturedStdout();
    }

    // What the write printed to standard output.
    std::string Write(const std::string& text) { return Write(text.data(), static_cast<int>(text.size())); }
    std::string Write(const char* text, int length)
    {
        CaptureStdout();
        rings->Write(text, length);
        return GetCapturedStdout();
    }
    std::string Flush()
    {
        CaptureStdout();
        rings->Flush();
        return GetCapturedStdout();
    }
    std::pair<int32_t, int32_t> Positions(int slot = 0) const
    {
        int32_t r = -1;
        int32_t w = -1;
        rings->SlotPositionsForTesting(slot, r, w);
        return {r, w};
    }

    CLogBuffers& operator*() { return *rings; }

private:
    std::unique_ptr<CLogBuffers> rings = std::make_unique<CLogBuffers>();
};

std::pair<int32_t, int32_t> Pos(int32_t r, int32_t w)
{
    return {r, w};
}

// `n` bytes cycling through the letters from `first`.
std::string Text(std::size_t n, char first = 'a')
{
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(first + static_cast<char>(i % 26));
    return text;
}

TEST(LogRing, TextEndingAtTheRingsEndThenStartsAgainAtZero)
{
    ManualRings rings;
    const std::string first = Text(9999);
    EXPECT_EQ(rings.Write(first), "");
    EXPECT_EQ(rings.Positions(), Pos(0, 9999));
    EXPECT_EQ(rings.Flush(), first);
    EXPECT_EQ(rings.Positions(), Pos(9999, 9999));

    EXPECT_EQ(rings.Write("!"), "");
    EXPECT_EQ(rings.Positions(), Pos(9999, 10000));
    EXPECT_EQ(rings.Flush(), "!");
    EXPECT_EQ(rings.Positions(), Pos(10000, 10000));
    EXPECT_EQ(rings.Flush(), "") << "nothing unread";

    EXPECT_EQ(rings.Write("next"), "");
    EXPECT_EQ(rings.Positions(), Pos(10000, 4));
    EXPECT_EQ(rings.Flush(), "next");
    EXPECT_EQ(rings.Positions(), Pos(4, 4));
}

TEST(LogRing, TextWrapsPastTheRingsEnd)
{
    ManualRings rings;
    rings.Write(Text(9000));
    rings.Flush();
    const std::string wrapped = Text(2000, 'A');
    EXPECT_EQ(rings.Write(wrapped), "");
    EXPECT_EQ(rings.Positions(), Pos(9000, 1000));
    EXPECT_EQ(rings.Flush(), wrapped);

    // Two texts queued, the second wrapping: written out in order.
    rings.Write(Text(5000));
    rings.Flush(); // readPos 6000
    const std::string a = Text(3000, 'a');
    const std::string b = Text(2500, 'A');
    rings.Write(a);
    rings.Write(b);
    EXPECT_EQ(rings.Positions(), Pos(6000, 1500));
    EXPECT_EQ(rings.Flush(), a + b);
}

struct OverrunCase {
    const char* name;
    int flushed; // written and written out first
    int queued;  // then written and left unread
    int last;    // the write under test
    bool overrun;
};

TEST(LogRing, OverrunTable)
{
    const OverrunCase cases[] = {
        {"ring full to its end, nothing more", 0, 9999, 1, false},
        {"one byte past a full ring", 0, 9999, 2, true},
        {"wrapping up to just before readPos", 5000, 5000, 4999, false},
        {"wrapping exactly onto readPos", 5000, 5000, 5000, true},
        {"wrapping past readPos", 5000, 5000, 6000, true},
        {"after a wrap, up to just before readPos", 3000, 9000, 999, false},
        {"after a wrap, exactly onto readPos", 3000, 9000, 1000, true},
        {"nothing unread, longest text wraps", 7000, 0, 9999, false},
    };
    for (const OverrunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ManualRings rings;
        if (c.flushed > 0) {
            rings.Write(Text(static_cast<std::size_t>(c.flushed), '0'));
            rings.Flush();
        }
        const std::string queued = Text(static_cast<std::size_t>(c.queued), 'a');
        if (c.queued > 0) {
            EXPECT_EQ(rings.Write(queued), "");
        }
        const auto before = rings.Positions();
        const std::string last = Text(static_cast<std::size_t>(c.last), 'A');
        const std::string printed = rings.Write(last);
        if (c.overrun) {
            EXPECT_EQ(printed, OverrunWarning + last + "\n");
            EXPECT_EQ(rings.Positions(), before) << "the ring is left as it was";
            EXPECT_EQ(rings.Flush(), queued) << "the older unread text stays intact";
        } else {
            EXPECT_EQ(printed, "");
            EXPECT_EQ(rings.Flush(), queued + last);
        }
    }
}

TEST(LogRing, LengthIsClampedToTheLimit)
{
    ManualRings rings;
    const std::string big = Text(20000);
    EXPECT_EQ(rings.Write(big.data(), 20000), "");
    EXPECT_EQ(rings.Positions(), Pos(0, 9999));
    EXPECT_EQ(rings.Flush(), big.substr(0, 9999));

    EXPECT_EQ(rings.Write(big.data(), -1), "");
    EXPECT_EQ(rings.Write(big.data(), INT32_MIN), "");
    EXPECT_EQ(rings.Write(big.data(), 0), "");
    EXPECT_EQ(rings.Write(nullptr, 100), "");
    EXPECT_EQ(rings.Positions(), Pos(9999, 9999));
    EXPECT_EQ(rings.Flush(), "");
}

// Releases all waiting threads once `count` have arrived.
class Gate {
public:
    explicit Gate(int count)
        : remaining(count)
    {
    }
    void ArriveAndWait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (--remaining == 0)
            open.notify_all();
        open.wait(lock, [this] { return remaining <= 0; });
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        open.wait(lock, [this] { return remaining <= 0; });
    }
    void Arrive()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (--remaining == 0)
            open.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable open;
    int remaining;
};

TEST(LogRing, TheTwentyFirstThreadWritesStraightToStandardOutput)
{
    ManualRings rings;
    Gate written(CLogBuffers::RingCount + 1); // the twenty and this test
    Gate done(1);
    std::vector<std::thread> threads;
    for (int i = 0; i < CLogBuffers::RingCount; ++i) {
        threads.emplace_back([&, i] {
            const std::string text = "thread " + std::to_string(i) + "\n";
            (*rings).Write(text.data(), static_cast<int>(text.size()));
            written.Arrive();
            done.Wait(); // stay alive, so that no thread id comes back
            const std::string again = "again " + std::to_string(i) + "\n";
            (*rings).Write(again.data(), static_cast<int>(again.size()));
        });
    }
    written.ArriveAndWait();

    std::string printed;
    std::thread late([&] {
        printed = rings.Write("late 1\n");
        printed += rings.Write("late 2\n");
    });
    late.join();
    EXPECT_EQ(printed, ThreadsWarning + "late 1\n\n" + ThreadsWarning + "late 2\n\n");

    std::multiset<std::string> lines;
    auto collect = [&lines](const std::string& text) {
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.insert(text.substr(start, end - start));
    };
    collect(rings.Flush());
    std::multiset<std::string> expected;
    for (int i = 0; i < CLogBuffers::RingCount; ++i)
        expected.insert("thread " + std::to_string(i));
    EXPECT_EQ(lines, expected);

    // The twenty keep their rings.
    done.Arrive();
    for (std::thread& t : threads)
        t.join();
    lines.clear();
    collect(rings.Flush());
    expected.clear();
    for (int i = 0; i < CLogBuffers::RingCount; ++i)
        expected.insert("again " + std::to_string(i));
    EXPECT_EQ(lines, expected);
}

TEST(LogRing, AThreadKeepsItsRing)
{
    ManualRings rings;
    rings.Write("main\n");
    std::thread other([&] { (*rings).Write("other\n", 6); });
    other.join();
    rings.Write("main again\n");
    EXPECT_EQ(rings.Positions(0), Pos(0, 16));
    EXPECT_EQ(rings.Positions(1), Pos(0, 6));
    EXPECT_EQ(rings.Flush(), "main\nmain again\nother\n");
}

// Threads log while the writer task drains: every line comes out once,
// through its ring or, when a thread writes too fast, through the warning.
TEST(LogRing, ConcurrentWritersWithTheWriterTaskLoseNothing)
{
    constexpr int Threads = 4;
    constexpr int Lines = 400;
    auto rings = std::make_unique<CLogBuffers>();
    CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Lines; ++i) {
                const std::string line =
                    "t" + std::to_string(t) + " " + std::to_string(i) + " " + std::string(40, '-') + "\n";
                rings->Write(line.data(), static_cast<int>(line.size()));
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    rings->StopThread();
    const std::string out = GetCapturedStdout();
    CaptureStdout();
    rings.reset();
    GetCapturedStdout();

    std::map<std::string, int> seen;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = out.substr(start, end - start);
        if (line.compare(0, OverrunWarning.size(), OverrunWarning) == 0)
            line = line.substr(OverrunWarning.size());
        if (!line.empty() && line[0] == 't')
            ++seen[line];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Threads * Lines));
    for (const auto& entry : seen)
        EXPECT_EQ(entry.second, 1) << entry.first;
}

} // namespace
