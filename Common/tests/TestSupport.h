#pragma once
// Small helpers shared by the Common tests.

#include "Common/Log.h"

#include <boost/filesystem.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace testsupport {

// A fresh directory, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/quendal-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = buffer.data();
    }
    ~ScratchDir()
    {
        boost::system::error_code ec;
        boost::filesystem::permissions(path, boost::filesystem::owner_all, ec);
        boost::filesystem::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    boost::filesystem::path operator/(const std::string& name) const { return path / name; }

    boost::filesystem::path path;
};

inline void WriteFile(const boost::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

inline std::string ReadFile(const boost::filesystem::path& file)
{
    std::ifstream in(file.string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text split at each newline; the text after the last newline, when
// not empty, is the last element.
inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

struct ProbeResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the logger probe program with the arguments, reading its standard
// output and standard error.
inline ProbeResult RunProbe(const std::vector<std::string>& args)
{
    ScratchDir dir;
    std::string command = std::string("'") + COMMON_LOG_PROBE + "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
    ProbeResult result;
    const int status = std::system(command.c_str());
    if (status != -1 && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(dir / "out");
    result.err = ReadFile(dir / "err");
    return result;
}

inline std::string ProbePath()
{
    return boost::filesystem::canonical(COMMON_LOG_PROBE).string();
}

// Collects every line the logger formats (call the logger's seams while no
// other thread logs).
class LineRecorder : public CLogLineObserver {
public:
    void OnLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// The message of a formatted line: the text after the level field, without
// its newline.
inline std::string MessageOf(const std::string& line)
{
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        pos = line.find(" | ", pos);
        if (pos == std::string::npos)
            return std::string();
        pos += 3;
    }
    std::string message = line.substr(pos);
    if (!message.empty() && message.back() == '\n')
        message.pop_back();
    return message;
}

} // namespace testsupport
