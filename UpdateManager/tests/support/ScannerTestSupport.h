#pragma once
// Helpers of the version-finding tests: log capture, temporary folders,
// known-folder and registry-store guards.

#include "Common/Log.h"

#include "platform/KnownFolders.h"
#include "platform/Registry.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace scanner_test {

struct LogLine {
    std::string category;
    std::string level;
    std::string message;

    bool operator==(const LogLine& other) const
    {
        return category == other.category && level == other.level && message == other.message;
    }
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line)
{
    return out << line.category << " | " << line.level << " | " << line.message;
}

// Captures the lines of the given categories (all levels) while it lives.
class LogCapture : public CLogLineObserver {
public:
    explicit LogCapture(std::vector<std::string> categories = {"update_manager", "external", "timing", "install"})
    {
        CLog* log = CSingleton<CLog>::GetInstance();
        for (const std::string& category : categories)
            log->EnableCategoryForTesting(category, CLog::Level::Debug);
        log->SetLineObserverForTesting(this);
    }

    ~LogCapture() override
    {
        CLog* log = CSingleton<CLog>::GetInstance();
        log->SetLineObserverForTesting(nullptr);
        log->ClearCategoriesForTesting();
    }

    void OnLine(const std::string& line) override
    {
        // "[LOG] ms | thread | category | level | message\n"
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            const std::size_t bar = line.find(" | ", start);
            if (bar == std::string::npos)
                return;
            fields.push_back(Trim(line.substr(start, bar - start)));
            start = bar + 3;
        }
        std::string message = line.substr(start);
        if (!message.empty() && message.back() == '\n')
            message.pop_back();
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(LogLine{fields[2], fields[3], message});
    }

    std::vector<LogLine> Lines() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }

    // Lines of one category.
    std::vector<LogLine> Lines(const std::string& category) const
    {
        std::vector<LogLine> result;
        for (const LogLine& line : Lines())
            if (line.category == category)
                result.push_back(line);
        return result;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.clear();
    }

private:
    static std::string Trim(const std::string& text)
    {
        const std::size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos)
            return std::string();
        return text.substr(first, text.find_last_not_of(' ') - first + 1);
    }

    mutable std::mutex mutex;
    std::vector<LogLine> lines;
};

// A fresh folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir()
        : path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("scanner-test-%%%%-%%%%-%%%%"))
    {
        boost::filesystem::create_directories(path);
    }
    ~TempDir()
    {
        boost::system::error_code ec;
        boost::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    boost::filesystem::path path;
};

inline void WriteText(const boost::filesystem::path& file, const std::string& text)
{
    boost::filesystem::create_directories(file.parent_path());
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out << text;
}

inline void WriteBytes(const boost::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    boost::filesystem::create_directories(file.parent_path());
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Undoes known-folder overrides and the registry store at the end.
class PlatformGuard {
public:
    PlatformGuard() = default;
    ~PlatformGuard()
    {
        platform::testing::ClearKnownFolderOverrides();
        platform::testing::ClearRegistryStore();
    }
    PlatformGuard(const PlatformGuard&) = delete;
    PlatformGuard& operator=(const PlatformGuard&) = delete;
};

} // namespace scanner_test
