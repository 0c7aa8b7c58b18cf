#include "testsupport/ChildTest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Quendal {
namespace Testing {

namespace {

constexpr const char* ChildFlag = "--child=";

struct ChildTest {
    std::string suite;
    std::string name;
    ChildTestBody body;
    const char* file;
    int line;
};

std::map<std::string, ChildTest>& ChildTests()
{
    static std::map<std::string, ChildTest> tests;
    return tests;
}

std::vector<std::string>& Arguments()
{
    static std::vector<std::string> arguments;
    return arguments;
}

class ChildTestCase : public ::testing::Test {
public:
    explicit ChildTestCase(ChildTestBody body)
        : body(body)
    {
    }
    void TestBody() override { body(); }

private:
    ChildTestBody body;
};

} // namespace

bool AddChildTest(const char* suite, const char* name, ChildTestBody body, const char* file, int line)
{
    ChildTests()[std::string(suite) + "." + name] = ChildTest{suite, name, body, file, line};
    return true;
}

const std::vector<std::string>& ChildArguments()
{
    return Arguments();
}

ChildResult RunChildTest(const std::string& test, const std::vector<std::string>& args)
{
    ChildResult result;
    std::vector<std::string> argv{"/proc/self/exe", ChildFlag + test};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        result.output = "cannot start the child: " + std::string(std::strerror(spawned));
        return result;
    }

    char buffer[4096];
    for (;;) {
        const ssize_t n = read(output[0], buffer, sizeof buffer);
        if (n > 0)
            result.output.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(output[0]);

    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == child && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (waited == child && WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

int RunTestProgram(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int childAt = 0;
    for (int i = 1; i < argc && childAt == 0; ++i)
        if (std::string(argv[i]).compare(0, std::char_traits<char>::length(ChildFlag), ChildFlag) == 0)
            childAt = i;
    if (childAt == 0)
        return RUN_ALL_TESTS();

    const std::string name = argv[childAt] + std::char_traits<char>::length(ChildFlag);
    const auto found = ChildTests().find(name);
    if (found == ChildTests().end()) {
        std::fprintf(stderr, "no child test %s in this program\n", name.c_str());
        return 2;
    }
    Arguments().assign(argv + childAt + 1, argv + argc);
    const ChildTest& test = found->second;
    const ChildTestBody body = test.body;
    ::testing::RegisterTest(test.suite.c_str(), test.name.c_str(), nullptr, nullptr, test.file, test.line,
                            [body]() -> ::testing::Test* { return new ChildTestCase(body); });
    GTEST_FLAG_SET(filter, name);
    const int failed = RUN_ALL_TESTS();
    if (failed == 0 && ::testing::UnitTest::GetInstance()->successful_test_count() != 1) {
        std::fprintf(stderr, "the child test %s did not pass (skipped?)\n", name.c_str());
        return 3;
    }
    return failed;
}

} // namespace Testing
} // namespace Quendal
