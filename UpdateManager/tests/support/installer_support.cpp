#include "UpdateManager/tests/support/installer_support.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <stdexcept>
#include <thread>

#include <stdlib.h>

namespace fs = boost::filesystem;

namespace Quendal {
namespace Testing {

InstallerScratch::InstallerScratch()
{
    std::string pattern = (fs::temp_directory_path() / "installer_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    folder = pattern;
}

InstallerScratch::~InstallerScratch()
{
    boost::system::error_code ignored;
    fs::remove_all(folder, ignored);
}

void WriteScriptInstaller(const fs::path& path, const ScriptInstaller& installer)
{
    std::ostringstream script;
    script << "#!/bin/sh\n"
           << "log='" << installer.record.string() << "'\n"
           << "printf 'start %s %s\\n' '" << installer.name << "' \"$#\" >> \"$log\"\n"
           << "for a in \"$@\"; do printf 'arg %s\\n' \"$a\" >> \"$log\"; done\n";
    if (!installer.gate.empty())
        script << "while [ ! -e '" << installer.gate.string() << "' ]; do sleep 0.01; done\n";
    script << "printf 'end %s\\n' '" << installer.name << "' >> \"$log\"\n"
           << "exit " << installer.exitCode << "\n";
    WriteFile(path, script.str());
    fs::permissions(path, installer.executable ? fs::perms(0755) : fs::perms(0644));
}

void WriteFile(const fs::path& path, const std::string& content)
{
    fs::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path)
{
    fs::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::istringstream in(ReadFile(path));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::vector<LogLine> LogLines(const DownloadLogCapture& log)
{
    // "[LOG] time | thread | category | level | message\n"
    std::vector<LogLine> parsed;
    for (const std::string& line : log.Lines()) {
        std::size_t columns[4];
        std::size_t position = 0;
        bool whole = true;
        for (std::size_t& column : columns) {
            position = line.find(" | ", position);
            if (position == std::string::npos) {
                whole = false;
                break;
            }
            column = position;
            position += 3;
        }
        if (!whole)
            continue;
        parsed.push_back({Trimmed(line.substr(columns[1] + 3, columns[2] - columns[1] - 3)),
                          Trimmed(line.substr(columns[2] + 3, columns[3] - columns[2] - 3)),
                          DownloadLogCapture::Message(line)});
    }
    return parsed;
}

std::string Dump(const std::vector<LogLine>& lines)
{
    std::string text;
    for (const LogLine& line : lines)
        text += line.category + " | " + line.level + " | " + line.message + "\n";
    return text;
}

bool HasLine(const DownloadLogCapture& log, const std::string& category, const std::string& level,
             const std::string& message)
{
    for (const LogLine& line : LogLines(log))
        if (line.category == category && line.level == level && line.message == message)
            return true;
    return false;
}

bool HasLineLike(const DownloadLogCapture& log, const std::string& category, const std::string& level,
                 const std::string& prefix, const std::string& suffix)
{
    for (const LogLine& line : LogLines(log)) {
        const std::string& m = line.message;
        if (line.category == category && line.level == level && m.size() >= prefix.size() + suffix.size() &&
            m.compare(0, prefix.size(), prefix) == 0 && m.compare(m.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace Testing
} // namespace Quendal
