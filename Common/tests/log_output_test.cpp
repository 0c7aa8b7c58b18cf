// What the logger writes to standard output over a whole process: banners,
// the writer's start and stop lines, queued lines, cut lines, and the
// exit-time deletion of the singletons. Each case runs the probe program.

#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"
#include "testsupport/LogCapture.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Quendal::Testing::ChildOptions;
using Quendal::Testing::ChildOutput;
using Quendal::Testing::ChildResult;
using Quendal::Testing::LogCapture;
using Quendal::Testing::ReadFile;
using Quendal::Testing::RunProgram;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::SplitLines;

struct ProbeResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the logger probe program with the arguments, reading its standard
// output and standard error.
ProbeResult RunProbe(const std::vector<std::string>& args)
{
    ScratchFolder dir;
    ChildOptions options;
    options.program = COMMON_LOG_PROBE;
    options.args = args;
    options.stdoutTo = ChildOutput::Pipe;
    options.stderrTo = ChildOutput::File;
    options.stderrPath = (dir / "err").string();
    const ChildResult run = RunProgram(options);
    ProbeResult result;
    result.exitCode = run.exitCode;
    result.out = run.output;
    result.err = ReadFile(dir / "err");
    return result;
}

std::string ProbePath()
{
    return boost::filesystem::canonical(COMMON_LOG_PROBE).string();
}

std::string MessageOf(const std::string& line)
{
    return LogCapture::Parse(line).message;
}

std::vector<std::string> StartLines()
{
    return {"#### Log engine initialization.", "LOG - START THREAD " + ProbePath()};
}

std::vector<std::string> StopLines()
{
    const std::string path = ProbePath();
    return {"LOG - STOP THREAD asked " + path, "LOG FLUSH DONE " + path, "#### Log engine destruction.",
            "LOG - STOP THREAD asked " + path, "LOG FLUSH DONE " + path};
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

bool IsLogLine(const std::string& line)
{
    return line.compare(0, 6, "[LOG] ") == 0;
}

TEST(LogOutput, NeverCreatedPrintsNothing)
{
    const auto result = RunProbe({"never"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

TEST(LogOutput, StartAndStopLinesInOrderWithQueuedTextBeforeFlushDone)
{
    constexpr int Queued = 100;
    const auto result = RunProbe({"lifecycle", std::to_string(Queued)});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(result.out.back(), '\n');

    const std::vector<std::string> lines = SplitLines(result.out);
    std::vector<std::string> banners;
    std::vector<std::string> logLines;
    std::size_t firstFlushDone = lines.size();
    std::size_t lastLogLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsLogLine(lines[i])) {
            logLines.push_back(lines[i]);
            lastLogLine = i;
        } else {
            banners.push_back(lines[i]);
            if (lines[i].compare(0, 15, "LOG FLUSH DONE ") == 0 && firstFlushDone == lines.size())
                firstFlushDone = i;
        }
    }
    EXPECT_EQ(banners, Concat({StartLines(), StopLines()}));
    ASSERT_EQ(logLines.size(), static_cast<std::size_t>(Queued));
    for (int i = 0; i < Queued; ++i)
        EXPECT_EQ(MessageOf(logLines[static_cast<std::size_t>(i)]), "queued " + std::to_string(i));
    EXPECT_LT(lastLogLine, firstFlushDone) << "queued text is written before LOG FLUSH DONE";
    EXPECT_GT(lastLogLine, 1u);
}

TEST(LogOutput, StopTwicePrintsItsLinesTwiceAndTheWriterNeverStartsAgain)
{
    const auto result = RunProbe({"stop-twice"});
    ASSERT_EQ(result.exitCode, 0);
    const std::string path = ProbePath();
    const std::vector<std::string> stop = {"LOG - STOP THREAD asked " + path, "LOG FLUSH DONE " + path};
    EXPECT_EQ(SplitLines(result.out), Concat({StartLines(), stop, stop, StopLines()}))
        << "text logged after the stop stays in its ring";
}

TEST(LogOutput, ALoggerCreatedAgainPrintsItsBannersAgain)
{
    const auto result = RunProbe({"recreate"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(SplitLines(result.out), Concat({StartLines(), StopLines(), StartLines(), StopLines()}));
}

TEST(LogOutput, LongLinesAreCutKeepingTheirNewline)
{
    // Lengths of the formatted lines, newline included.
    const std::vector<std::size_t> lengths = {60, 9998, 9999, 10000, 20000, 61};
    std::vector<std::string> args = {"lengths"};
    for (std::size_t n : lengths)
        args.push_back(std::to_string(n));
    const auto result = RunProbe(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    std::vector<std::string> logLines;
    for (const std::string& line : SplitLines(result.out)) {
        if (IsLogLine(line))
            logLines.push_back(line);
        else
            EXPECT_EQ(line.find("[LOG]"), std::string::npos) << "a line ran into another";
    }
    ASSERT_EQ(logLines.size(), lengths.size());
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        const std::size_t expected = std::min<std::size_t>(lengths[i], 9999) - 1; // without its newline
        EXPECT_EQ(logLines[i].size(), expected);
        EXPECT_EQ(MessageOf(logLines[i]).compare(0, 2, "m" + std::to_string(i + 1)), 0);
    }
}

struct ExitCase {
    const char* created; // c: CLog, i: InstallThread, r: Resources, in creation order
    const char* how;
    int exitCode;
    bool resources;
    bool installThread;
    bool log;
};

TEST(LogOutput, SingletonsAliveAtExitAreDeletedResourcesThenInstallThreadThenLog)
{
    const ExitCase cases[] = {
        {"cir", "return", 0, true, true, true}, {"rci", "exit", 1, true, true, true},
        {"irc", "return", 0, true, true, true}, {"c", "exit", 1, false, false, true},
        {"ri", "return", 0, true, true, false}, {"ic", "exit", 1, false, true, true},
        {"", "exit", 1, false, false, false},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(std::string(c.created) + " then " + c.how);
        const auto result = RunProbe({"exit-order", c.created, c.how});
        EXPECT_EQ(result.exitCode, c.exitCode);
        std::vector<std::string> expected;
        if (c.log)
            expected = StartLines();
        expected.push_back("end of main");
        if (c.resources)
            expected.push_back("Resources deleted");
        if (c.installThread)
            expected.push_back("InstallThread deleted");
        if (c.log)
            expected = Concat({expected, StopLines()});
        EXPECT_EQ(SplitLines(result.out), expected);
    }
}

TEST(LogOutput, AFailedExecutableLookupIsReportedAndTheLoggerStillRuns)
{
    const auto result = RunProbe({"bad-executable"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "GetModuleHandle returned 2\n");
    EXPECT_EQ(result.out, "#### Log engine initialization.\n"
                          "LOG - START THREAD \n"
                          "LOG - STOP THREAD asked \n"
                          "LOG FLUSH DONE \n"
                          "#### Log engine destruction.\n"
                          "LOG - STOP THREAD asked \n"
                          "LOG FLUSH DONE \n");
}

} // namespace
