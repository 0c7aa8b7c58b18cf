#pragma once
// Saves environment variables and puts them back (set or unset) when it
// goes out of scope, whatever the test did to them meanwhile.

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Quendal {
namespace Testing {

class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~ScopedEnvironment()
    {
        for (const auto& entry : saved) {
            if (entry.second)
                setenv(entry.first.c_str(), entry.second->c_str(), 1);
            else
                unsetenv(entry.first.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

} // namespace Testing
} // namespace Quendal
