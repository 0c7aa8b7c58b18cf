#include "UpdateManager/tests/support/download_log.h"

namespace Quendal {
namespace Testing {

DownloadLogCapture::DownloadLogCapture(const std::vector<std::string>& categories)
{
    CLog* log = CSingleton<CLog>::GetInstance();
    for (const std::string& category : categories)
        log->EnableCategoryForTesting(category, CLog::Level::Debug);
    log->SetLineObserverForTesting(this);
}

DownloadLogCapture::~DownloadLogCapture()
{
    CLog* log = CSingleton<CLog>::GetInstance();
    log->SetLineObserverForTesting(nullptr);
    log->ClearCategoriesForTesting();
}

void DownloadLogCapture::OnLine(const std::string& line)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
    changed.notify_all();
}

std::vector<std::string> DownloadLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

std::string DownloadLogCapture::Message(const std::string& line)
{
    // "[LOG] time | thread | category | level | message\n"
    std::size_t position = 0;
    for (int column = 0; column < 4 && position != std::string::npos; ++column) {
        position = line.find(" | ", position);
        if (position != std::string::npos)
            position += 3;
    }
    std::string message = position == std::string::npos ? line : line.substr(position);
    if (!message.empty() && message.back() == '\n')
        message.pop_back();
    return message;
}

std::vector<std::string> DownloadLogCapture::Find(const std::string& text) const
{
    std::vector<std::string> found;
    for (const std::string& line : Lines())
        if (Message(line).find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

int DownloadLogCapture::IndexOf(const std::string& text, int from) const
{
    const std::vector<std::string> all = Lines();
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(all.size()); ++i)
        if (Message(all[static_cast<std::size_t>(i)]).find(text) != std::string::npos)
            return i;
    return -1;
}

bool DownloadLogCapture::WaitFor(const std::string& text, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] {
        for (const std::string& line : lines)
            if (Message(line).find(text) != std::string::npos)
                return true;
        return false;
    });
}

} // namespace Testing
} // namespace Quendal
