// The quendal-test-server program: port on its first line, release folder, clean exit on signals.
#include "Common/Numbers.h"
#include "testserver/TestServer.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"
#include "testsupport/HttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <signal.h>

namespace {

using Quendal::Testing::ChildOptions;
using Quendal::Testing::ChildOutput;
using Quendal::Testing::ChildProcess;
using Quendal::Testing::Get;
using Quendal::Testing::RunProgram;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

constexpr std::chrono::seconds Limit(10);

// The program with its standard output on a pipe.
ChildOptions Server(std::vector<std::string> args)
{
    ChildOptions options;
    options.program = TESTSERVER_PROGRAM;
    options.args = std::move(args);
    options.stdoutTo = ChildOutput::Pipe;
    options.stderrTo = ChildOutput::Inherited;
    return options;
}

std::uint16_t PortOf(const std::string& line)
{
    const std::string prefix = "listening on 127.0.0.1:";
    std::uint16_t port = 0;
    if (line.compare(0, prefix.size(), prefix) != 0 || !ParseDigits(line.substr(prefix.size()), port))
        return 0;
    return port;
}

class ProgramSignalTest : public ::testing::TestWithParam<int> { };

TEST_P(ProgramSignalTest, ServesReleasesUntilSignalled)
{
    ScratchFolder root;
    WriteFile(root / "ABC" / "setup.sh", "#!/bin/sh\n");
    ChildProcess program(Server({"--port", "0", "--releases", root.Path().string(), "--verbose"}));
    const std::uint16_t port = PortOf(program.ReadLine(Limit));
    ASSERT_NE(0, port);

    auto api = Get(port, testserver::TestServer::ApiPath("soft", "ABC", "windows"));
    EXPECT_EQ(200, api.status);
    EXPECT_NE(std::string::npos, api.body.find("\"checksum\":\"" + testserver::Md5Hex("#!/bin/sh\n") + "\""));
    EXPECT_EQ("#!/bin/sh\n", Get(port, "/releases/ABC/setup.sh", "bytes=0-").body);
    EXPECT_EQ("#1 GET /api/resources/soft/ABC/windows/latest", program.ReadLine(Limit));
    EXPECT_EQ("#2 GET /releases/ABC/setup.sh [Range: bytes=0-]", program.ReadLine(Limit));

    program.Send(GetParam());
    EXPECT_EQ(0, program.Wait(Limit));
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramSignalTest, ::testing::Values(SIGINT, SIGTERM));

TEST(Program, HelpPrintsUsage)
{
    const auto program = RunProgram(Server({"--help"}));
    const std::string& text = program.output;
    EXPECT_EQ(0u, text.find("usage: quendal-test-server"));
    EXPECT_NE(std::string::npos, text.find("release.json"));
    EXPECT_EQ(0, program.exitCode);
}

TEST(Program, ThrottleSlowsTheBodies)
{
    ScratchFolder root;
    const std::string installer(300, 'x');
    WriteFile(root / "ABC" / "setup.sh", installer);
    // 1000 bytes a second: pieces of 100 bytes with 100 ms after each but the last.
    ChildProcess program(Server({"--releases", root.Path().string(), "--throttle", "1000"}));
    const std::uint16_t port = PortOf(program.ReadLine(Limit));
    ASSERT_NE(0, port);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(installer, Get(port, "/releases/ABC/setup.sh").body);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(200, Get(port, testserver::TestServer::ApiPath("soft", "ABC", "windows")).status);
}

TEST(Program, BadArgumentsFail)
{
    for (const char* bad : {"99999", "65536", "-1", "+80", " 80", "x", ""}) {
        EXPECT_EQ(2, RunProgram(Server({"--port", bad})).exitCode) << bad;
    }
    for (const char* bad : {"0", "-5", "x", ""}) {
        EXPECT_EQ(2, RunProgram(Server({"--throttle", bad})).exitCode) << bad;
    }
    EXPECT_EQ(2, RunProgram(Server({"--what"})).exitCode);
}

TEST(Program, BusyPortFails)
{
    testserver::TestServer server;
    server.Start();
    EXPECT_EQ(1, RunProgram(Server({"--port", std::to_string(server.Port())})).exitCode);
}

} // namespace
