#include "UpdateManager/tests/support/ScratchFolder.h"

#include <boost/filesystem/operations.hpp>

#include <stdexcept>

namespace Quendal {
namespace Testing {

ScratchFolder::ScratchFolder()
{
    namespace fs = boost::filesystem;
    // A name nobody else has taken: create_directory fails on an existing one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / fs::unique_path("quendal-test-%%%%-%%%%-%%%%");
        if (fs::create_directory(candidate)) {
            path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchFolder::~ScratchFolder()
{
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path, ignored);
}

} // namespace Testing
} // namespace Quendal
