#include "platform/KnownFolders.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {

std::mutex overridesMutex;
std::map<KnownFolderId, std::optional<std::string>> overrides;

bool HomeDirectory(std::string& home)
{
    const char* env = std::getenv("HOME");
    if (env != nullptr && env[0] != '\0') {
        home = env;
        return true;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pwd{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pwd, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
        home = result->pw_dir;
        return true;
    }
    return false;
}

void StripTrailingSeparators(std::string& path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
}

// `base` followed by `rest` ("/..." or empty) without doubling the separator.
std::string Join(const std::string& base, const std::string& rest)
{
    if (!base.empty() && base.back() == '/' && !rest.empty() && rest.front() == '/')
        return base + rest.substr(1);
    return base + rest;
}

// Reads NAME="value" from the XDG user-dirs file; "$HOME" is expanded.
bool XdgUserDir(const std::string& name, const std::string& home, std::string& out)
{
    std::string configHome;
    const char* env = std::getenv("XDG_CONFIG_HOME");
    if (env != nullptr && env[0] == '/')
        configHome = env;
    else
        configHome = Join(home, "/.config");

    std::ifstream in(Join(configHome, "/user-dirs.dirs"));
    if (!in)
        return false;

    std::string line;
    bool found = false;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        if (line.compare(start, name.size() + 1, name + "=") != 0)
            continue;
        std::string value = line.substr(start + name.size() + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            continue;
        value = value.substr(1, value.size() - 2);
        std::string expanded;
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
            expanded = Join(home, value.substr(5));
        else if (!value.empty() && value[0] == '/')
            expanded = value;
        else
            continue;
        StripTrailingSeparators(expanded);
        out = expanded;
        found = true; // the last assignment wins, as in a shell
    }
    return found;
}

bool NativeLookup(KnownFolderId id, std::string& path)
{
    switch (id) {
    case KnownFolderId::ProgramData:
        path = "/var/opt";
        return true;
    case KnownFolderId::ProgramFilesX86:
    case KnownFolderId::ProgramFilesX64:
        path = "/opt";
        return true;
    default:
        break;
    }

    std::string home;
    if (!HomeDirectory(home))
        return false;
    StripTrailingSeparators(home);

    switch (id) {
    case KnownFolderId::Profile:
        path = home;
        return true;
    case KnownFolderId::Downloads:
        if (!XdgUserDir("XDG_DOWNLOAD_DIR", home, path))
            path = Join(home, "/Downloads");
        return true;
    case KnownFolderId::Desktop:
        if (!XdgUserDir("XDG_DESKTOP_DIR", home, path))
            path = Join(home, "/Desktop");
        return true;
    default:
        return false;
    }
}

} // namespace

FolderLookup LookupKnownFolder(KnownFolderId id, std::string& path, int& errorCode)
{
    std::string found;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(overridesMutex);
        auto it = overrides.find(id);
        if (it != overrides.end()) {
            ok = it->second.has_value();
            if (ok)
                found = *it->second;
        } else {
            ok = NativeLookup(id, found);
        }
    }
    if (!ok || found.empty())
        return FolderLookup::NotFound;
    if (!IsValidUtf8(found)) {
        errorCode = EILSEQ;
        return FolderLookup::ConversionFailed;
    }
    if (found.size() + 1 > FolderPathBufferSize) {
        errorCode = ENAMETOOLONG;
        return FolderLookup::ConversionFailed;
    }
    path = found;
    return FolderLookup::Found;
}

namespace testing {

void OverrideKnownFolder(KnownFolderId id, std::optional<std::string> path)
{
    std::lock_guard<std::mutex> lock(overridesMutex);
    overrides[id] = std::move(path);
}

void ClearKnownFolderOverrides()
{
    std::lock_guard<std::mutex> lock(overridesMutex);
    overrides.clear();
}

} // namespace testing
} // namespace platform
