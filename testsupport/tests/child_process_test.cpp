// How the tests' one way of starting a program reports it: where each output
// goes, what the pipe holds, exit codes and signals.

#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>

namespace {

using Quendal::Testing::ChildOptions;
using Quendal::Testing::ChildOutput;
using Quendal::Testing::ChildProcess;
using Quendal::Testing::ChildResult;
using Quendal::Testing::ReadFile;
using Quendal::Testing::RunProgram;
using Quendal::Testing::ScratchFolder;

ChildOptions Shell(const std::string& script)
{
    ChildOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", script};
    return options;
}

TEST(ChildProcess, RunProgramReportsOutputExitCodeAndSignal)
{
    struct Case {
        const char* name;
        const char* script;
        ChildOutput stdoutTo;
        ChildOutput stderrTo;
        int exitCode;
        int signal;
        std::string output;
    };
    const Case cases[] = {
        {"both on the pipe, in order", "echo out; echo err >&2; echo more; exit 3", ChildOutput::Pipe,
         ChildOutput::Pipe, 3, 0, "out\nerr\nmore\n"},
        {"standard error discarded", "echo out; echo err >&2", ChildOutput::Pipe, ChildOutput::Null, 0, 0, "out\n"},
        {"standard error alone on the pipe", "echo out; echo err >&2", ChildOutput::Null, ChildOutput::Pipe, 0, 0,
         "err\n"},
        {"standard input is empty", "read line; echo \"read $?\"", ChildOutput::Pipe, ChildOutput::Null, 0, 0,
         "read 1\n"},
        {"ended by a signal", "echo before; kill -TERM $$; echo after", ChildOutput::Pipe, ChildOutput::Null, -1,
         SIGTERM, "before\n"},
        {"writing to a closed pipe", "echo lost; echo after >&2", ChildOutput::ClosedPipe, ChildOutput::Pipe, -1,
         SIGPIPE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildOptions options = Shell(c.script);
        options.stdoutTo = c.stdoutTo;
        options.stderrTo = c.stderrTo;
        const ChildResult result = RunProgram(options);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.signal, c.signal);
        EXPECT_EQ(result.output, c.output);
    }
}

TEST(ChildProcess, FilesEnvironmentAndWorkingFolder)
{
    ScratchFolder scratch;
    ChildOptions options = Shell("pwd; echo \"$QUENDAL_SET ${HOME-removed}\"; echo err >&2");
    options.environment = {{"QUENDAL_SET", "value"}, {"HOME", std::nullopt}};
    options.workingFolder = scratch.Path().string();
    options.stdoutTo = ChildOutput::File;
    options.stdoutPath = scratch.File("out");
    options.stderrTo = ChildOutput::File;
    options.stderrPath = scratch.File("err");
    ChildProcess child(options);
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 0);
    EXPECT_EQ(ReadFile(scratch / "out"), scratch.Path().string() + "\nvalue removed\n");
    EXPECT_EQ(ReadFile(scratch / "err"), "err\n");
}

TEST(ChildProcess, ReadsLinesWhileItRunsAndStopsItOnASignal)
{
    ChildOptions options = Shell("echo one; echo two; exec sleep 60");
    options.stdoutTo = ChildOutput::Pipe;
    ChildProcess child(options);
    EXPECT_EQ(child.ReadLine(std::chrono::seconds(10)), "one");
    EXPECT_EQ(child.ReadLine(std::chrono::seconds(10)), "two");
    EXPECT_TRUE(child.Running());
    child.Send(SIGTERM);
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 128 + SIGTERM);
    EXPECT_EQ(child.EndSignal(), SIGTERM);
    EXPECT_EQ(child.ReadLine(std::chrono::seconds(10)), "") << "the end of the output";
}

TEST(ChildProcess, AProgramThatCannotStartThrows)
{
    ChildOptions options;
    options.program = "/nonexistent/program";
    EXPECT_THROW(RunProgram(options), std::runtime_error);
}

} // namespace
