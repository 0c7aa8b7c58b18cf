#include "testsupport/ChildTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>

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
    ChildOptions options;
    options.program = "/proc/self/exe";
    options.args = {ChildFlag + test};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.stdoutTo = ChildOutput::Pipe;
    options.stderrTo = ChildOutput::Pipe;
    try {
        return RunProgram(options);
    } catch (const std::runtime_error& error) {
        ChildResult result;
        result.output = error.what();
        return result;
    }
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
