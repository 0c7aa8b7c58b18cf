#include "testsupport/LogCapture.h"

namespace Quendal {
namespace Testing {

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Includes(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const LogLine& line)
{
    return out << line.category << " | " << line.level << " | " << line.message;
}

LogCapture::LogCapture(const std::vector<std::string>& categories)
{
    CLog& log = Logger();
    for (const std::string& category : categories)
        log.EnableCategoryForTesting(category, CLog::Level::Debug);
    log.SetLineObserverForTesting(this);
}

LogCapture::~LogCapture()
{
    CLog& log = Logger();
    log.SetLineObserverForTesting(nullptr);
    log.ClearCategoriesForTesting();
}

LogLine LogCapture::Parse(const std::string& line)
{
    std::size_t bars[4];
    std::size_t position = 0;
    for (std::size_t& bar : bars) {
        bar = line.find(" | ", position);
        if (bar == std::string::npos) {
            LogLine whole{"", "", line};
            if (!whole.message.empty() && whole.message.back() == '\n')
                whole.message.pop_back();
            return whole;
        }
        position = bar + 3;
    }
    LogLine parsed{Trimmed(line.substr(bars[1] + 3, bars[2] - bars[1] - 3)),
                   Trimmed(line.substr(bars[2] + 3, bars[3] - bars[2] - 3)), line.substr(bars[3] + 3)};
    if (!parsed.message.empty() && parsed.message.back() == '\n')
        parsed.message.pop_back();
    return parsed;
}

void LogCapture::OnLine(const std::string& line)
{
    LogLine parsed = Parse(line);
    {
        std::lock_guard<std::mutex> lock(mutex);
        raw.push_back(line);
        lines.push_back(std::move(parsed));
    }
    changed.notify_all();
}

std::vector<LogLine> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

std::vector<LogLine> LogCapture::Lines(const std::string& category) const
{
    std::vector<LogLine> found;
    for (const LogLine& line : Lines())
        if (line.category == category)
            found.push_back(line);
    return found;
}

std::vector<std::string> LogCapture::RawLines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return raw;
}

std::vector<LogLine> LogCapture::Find(const std::string& text) const
{
    std::vector<LogLine> found;
    for (const LogLine& line : Lines())
        if (Includes(line.message, text))
            found.push_back(line);
    return found;
}

int LogCapture::Count(const std::string& level, const std::string& text) const
{
    int count = 0;
    for (const LogLine& line : Lines())
        if (line.level == level && Includes(line.message, text))
            ++count;
    return count;
}

int LogCapture::IndexOf(const std::string& text, int from) const
{
    const std::vector<LogLine> all = Lines();
    for (std::size_t i = from < 0 ? 0 : static_cast<std::size_t>(from); i < all.size(); ++i)
        if (Includes(all[i].message, text))
            return static_cast<int>(i);
    return -1;
}

bool LogCapture::Has(const std::string& category, const std::string& level, const std::string& message) const
{
    for (const LogLine& line : Lines())
        if (line == LogLine{category, level, message})
            return true;
    return false;
}

bool LogCapture::HasLike(const std::string& category, const std::string& level, const std::string& prefix,
                         const std::string& suffix) const
{
    for (const LogLine& line : Lines()) {
        const std::string& m = line.message;
        if (line.category == category && line.level == level && m.size() >= prefix.size() + suffix.size() &&
            m.compare(0, prefix.size(), prefix) == 0 && m.compare(m.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

bool LogCapture::WaitFor(const std::string& text, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] {
        for (const LogLine& line : lines)
            if (Includes(line.message, text))
                return true;
        return false;
    });
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    raw.clear();
    lines.clear();
}

std::string LogCapture::Describe(const std::vector<LogLine>& lines)
{
    std::string text;
    for (const LogLine& line : lines)
        text += line.category + " | " + line.level + " | " + line.message + "\n";
    return text;
}

} // namespace Testing
} // namespace Quendal
