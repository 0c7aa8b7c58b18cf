#pragma once
// Helpers of the HTTP request tests (header only): a "web" log capture and a body reader.

#include "Common/Log.h"
#include "UpdateManager/HttpDownloadRequest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// Collects the lines of one category (enabled at level 0) while it lives.
// Create it while no other thread logs.
class WebLogCapture : public CLogLineObserver {
public:
    explicit WebLogCapture(const std::string& category = "web");
    ~WebLogCapture() override;
    WebLogCapture(const WebLogCapture&) = delete;
    WebLogCapture& operator=(const WebLogCapture&) = delete;

    void OnLine(const std::string& line) override;

    std::vector<std::string> Lines() const;
    // Lines at `level` ("debug", "error", ...) whose message contains `text`.
    int Count(const std::string& level, const std::string& text) const;
    // Some line (any level) contains `text`.
    bool Contains(const std::string& text) const;
    void Clear();

private:
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

// What ReadBody saw.
struct BodyRead {
    std::vector<int64_t> chunks;
    std::vector<double> progress;  // GetProgress after each chunk
};

// Reads the body with HasMoreData / ReadChunk into `out` until HasMoreData
// settles the status.
BodyRead ReadBody(UpdateManager::HttpDownloadRequest& request, std::ostream& out);

// Byte-for-byte equality that reports sizes and the first difference, not
// the whole texts.
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);

// `size` bytes of a pattern that shows shifted or doubled ranges.
std::string PatternBody(std::size_t size);

inline WebLogCapture::WebLogCapture(const std::string& category)
{
    CLog* log = CSingleton<CLog>::GetInstance();
    log->ClearCategoriesForTesting();
    log->EnableCategoryForTesting(category, CLog::Level::Debug);
    log->SetLineObserverForTesting(this);
}

inline WebLogCapture::~WebLogCapture()
{
    CLog* log = CSingleton<CLog>::GetInstance();
    log->SetLineObserverForTesting(nullptr);
    log->ClearCategoriesForTesting();
}

inline void WebLogCapture::OnLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
}

inline std::vector<std::string> WebLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

inline int WebLogCapture::Count(const std::string& level, const std::string& text) const
{
    std::string column = level;
    column.resize(6, ' ');
    const std::string levelPart = " | " + column + " | ";
    int count = 0;
    for (const std::string& line : Lines()) {
        const std::size_t at = line.find(levelPart);
        if (at != std::string::npos && line.find(text, at + levelPart.size()) != std::string::npos)
            ++count;
    }
    return count;
}

inline bool WebLogCapture::Contains(const std::string& text) const
{
    for (const std::string& line : Lines())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

inline void WebLogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    lines.clear();
}

inline BodyRead ReadBody(UpdateManager::HttpDownloadRequest& request, std::ostream& out)
{
    BodyRead read;
    while (request.HasMoreData()) {
        read.chunks.push_back(request.ReadChunk(out));
        read.progress.push_back(request.GetProgress());
    }
    return read;
}

inline ::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got " << actual.size()
                                         << ", first difference at byte " << at;
}

inline std::string PatternBody(std::size_t size)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return body;
}

} // namespace Testing
} // namespace Quendal
