#pragma once
// Helpers of the HTTP request tests: a body reader and byte comparisons.
// Header only, so that the library does not need the engine; the tests that
// include it link it.

#include "UpdateManager/HttpDownloadRequest.h"
#include "testsupport/Payloads.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

// What ReadBody saw.
struct BodyRead {
    std::vector<int64_t> chunks;
    std::vector<double> progress; // GetProgress after each chunk
};

// Reads the body with HasMoreData / ReadChunk into `out` until HasMoreData
// settles the status.
BodyRead ReadBody(UpdateManager::HttpDownloadRequest& request, std::ostream& out);

// Byte-for-byte equality that reports sizes and the first difference, not
// the whole texts.
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);

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

} // namespace Testing
} // namespace Quendal
