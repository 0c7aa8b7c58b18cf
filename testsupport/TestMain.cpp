// The main of every test program (in place of gtest_main).

#include "testsupport/ChildTest.h"

int main(int argc, char** argv)
{
    return Quendal::Testing::RunTestProgram(argc, argv);
}
