// Writes the seed corpus of fuzz_pe_version: small PE files with a version
// resource, and a few without one.

#include "platform/tests/support/PeBuilder.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pe_seeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    int n = 0;
    bool ok = true;
    auto write = [&](const pe_test::PeOptions& options) {
        ok = pe_test::WriteFile(folder + "/seed-" + std::to_string(++n) + ".exe", pe_test::BuildPe(options).bytes) && ok;
    };
    pe_test::PeOptions options;
    write(options);
    options.pe32Plus = true;
    write(options);
    options.withIconType = false;
    options.language = 0;
    write(options);
    options.withFixedInfo = false;
    write(options);
    options = pe_test::PeOptions();
    options.withVersionType = false;
    write(options);
    options = pe_test::PeOptions();
    options.withResources = false;
    write(options);
    return ok ? 0 : 1;
}
