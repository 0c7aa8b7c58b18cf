#pragma once
// Test code that must run in a process of its own (a file size limit, other
// user rights, a process that replaces itself): this test program started
// again as "<program> --child=<Suite>.<Name> <arguments>...".
//
// A child test is not a case of the program's list, so it never shows as run
// or skipped there; only the child registers it with GoogleTest, and its
// assertions decide the child's exit code.
//
//   QUENDAL_CHILD_TEST(DownloadJobChild, WriteBeyondTheFileSizeLimit)
//   {
//       const std::string& url = ChildArguments().at(0);
//       ...
//   }
//   const ChildResult child = RunChildTest("DownloadJobChild.WriteBeyondTheFileSizeLimit", {url});
//   EXPECT_EQ(child.exitCode, 0) << child.output;

#include "testsupport/ChildProcess.h"

#include <string>
#include <vector>

namespace Quendal {
namespace Testing {

using ChildTestBody = void (*)();

// Used by QUENDAL_CHILD_TEST.
bool AddChildTest(const char* suite, const char* name, ChildTestBody body, const char* file, int line);

// In the child, the arguments RunChildTest was given.
const std::vector<std::string>& ChildArguments();

// Runs the child test "<Suite>.<Name>" in a new process of this program and
// waits for its end (RunProgram's limit); the output is its standard output
// and standard error, or why it could not start (exit code -1). Exit code 0:
// the child test ran and passed.
ChildResult RunChildTest(const std::string& test, const std::vector<std::string>& args = {});

// The main of every test program: GoogleTest's, plus the child mode.
int RunTestProgram(int argc, char** argv);

} // namespace Testing
} // namespace Quendal

#define QUENDAL_CHILD_TEST(suite, name)                                                                                \
    static void QuendalChildTest_##suite##_##name();                                                                   \
    [[maybe_unused]] static const bool QuendalChildTestAdded_##suite##_##name =                                        \
        ::Quendal::Testing::AddChildTest(#suite, #name, &QuendalChildTest_##suite##_##name, __FILE__, __LINE__);       \
    static void QuendalChildTest_##suite##_##name()
