// Writes the seed corpus of fuzz_pe_version: small PE files with a version
// resource, and a few without one.

#include "testsupport/Files.h"
#include "testsupport/PeBuilder.h"

#include <cstdio>
#include <exception>
#include <string>

using Quendal::Testing::BuildPe;
using Quendal::Testing::PeOptions;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pe_seeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    int n = 0;
    auto write = [&](const PeOptions& options) {
        Quendal::Testing::WriteFile(folder + "/seed-" + std::to_string(++n) + ".exe", BuildPe(options).bytes);
    };
    try {
        PeOptions options;
        write(options);
        options.pe32Plus = true;
        write(options);
        options.withIconType = false;
        options.language = 0;
        write(options);
        options.withFixedInfo = false;
        write(options);
        options = PeOptions();
        options.withVersionType = false;
        write(options);
        options = PeOptions();
        options.withResources = false;
        write(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_pe_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
