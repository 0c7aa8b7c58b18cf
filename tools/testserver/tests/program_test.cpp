// The quendal-test-server program: port on its first line, release folder, clean exit on signals.
#include "Common/Numbers.h"
#include "testserver/TestServer.h"
#include "testsupport/Files.h"
#include "testsupport/HttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Quendal::Testing::Get;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

// The program running with its standard output on a pipe.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        args.insert(args.begin(), TESTSERVER_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, TESTSERVER_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
        if (rc != 0) throw std::runtime_error("posix_spawn");
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }

    // One line of output (without its newline); empty on end of output or after 10 s.
    std::string ReadLine() {
        std::string line;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return line;
            char c;
            if (read(out_, &c, 1) != 1 || c == '\n') return line;
            line += c;
        }
    }

    std::string ReadAll() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

    // Exit code, or -signal when it was killed.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    void Signal(int signal) { kill(pid_, signal); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::uint16_t PortOf(const std::string& line) {
    const std::string prefix = "listening on 127.0.0.1:";
    std::uint16_t port = 0;
    if (line.compare(0, prefix.size(), prefix) != 0 || !ParseDigits(line.substr(prefix.size()), port)) return 0;
    return port;
}

class ProgramSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(ProgramSignalTest, ServesReleasesUntilSignalled) {
    ScratchFolder root;
    WriteFile(root / "ABC" / "setup.sh", "#!/bin/sh\n");
    Program program({"--port", "0", "--releases", root.Path().string(), "--verbose"});
    const std::uint16_t port = PortOf(program.ReadLine());
    ASSERT_NE(0, port);

    auto api = Get(port, testserver::TestServer::ApiPath("soft", "ABC", "windows"));
    EXPECT_EQ(200, api.status);
    EXPECT_NE(std::string::npos, api.body.find("\"checksum\":\"" + testserver::Md5Hex("#!/bin/sh\n") + "\""));
    EXPECT_EQ("#!/bin/sh\n", Get(port, "/releases/ABC/setup.sh", "bytes=0-").body);
    EXPECT_EQ("#1 GET /api/resources/soft/ABC/windows/latest", program.ReadLine());
    EXPECT_EQ("#2 GET /releases/ABC/setup.sh [Range: bytes=0-]", program.ReadLine());

    program.Signal(GetParam());
    EXPECT_EQ(0, program.Wait());
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramSignalTest, ::testing::Values(SIGINT, SIGTERM));

TEST(Program, HelpPrintsUsage) {
    Program program({"--help"});
    std::string text = program.ReadAll();
    EXPECT_EQ(0u, text.find("usage: quendal-test-server"));
    EXPECT_NE(std::string::npos, text.find("release.json"));
    EXPECT_EQ(0, program.Wait());
}

TEST(Program, ThrottleSlowsTheBodies) {
    ScratchFolder root;
    const std::string installer(300, 'x');
    WriteFile(root / "ABC" / "setup.sh", installer);
    // 1000 bytes a second: pieces of 100 bytes with 100 ms after each but the last.
    Program program({"--releases", root.Path().string(), "--throttle", "1000"});
    const std::uint16_t port = PortOf(program.ReadLine());
    ASSERT_NE(0, port);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(installer, Get(port, "/releases/ABC/setup.sh").body);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(200, Get(port, testserver::TestServer::ApiPath("soft", "ABC", "windows")).status);
}

TEST(Program, BadArgumentsFail) {
    for (const char* bad : {"99999", "65536", "-1", "+80", " 80", "x", ""}) {
        Program program({"--port", bad});
        EXPECT_EQ(2, program.Wait()) << bad;
    }
    for (const char* bad : {"0", "-5", "x", ""}) {
        Program program({"--throttle", bad});
        EXPECT_EQ(2, program.Wait()) << bad;
    }
    Program unknown({"--what"});
    EXPECT_EQ(2, unknown.Wait());
}

TEST(Program, BusyPortFails) {
    testserver::TestServer server;
    server.Start();
    Program program({"--port", std::to_string(server.Port())});
    EXPECT_EQ(1, program.Wait());
}

}  // namespace
