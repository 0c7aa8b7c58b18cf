#include "UpdateManager/VersionFinder.h"
#include "UpdateManager/Registry.h"

#include "Common/Globals.h"
#include "Common/Helpers.h"
#include "Common/Log.h"

#include "platform/FileVersion.h"
#include "platform/Path.h"
#include "platform/Text.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <utility>

namespace Quendal {
namespace UpdateManager {
namespace {

// Rule texts and registry folders separate their parts with '\'; on this
// platform that is the path separator too.
std::string NativeSeparators(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', platform::PathSeparator);
    return text;
}

} // namespace

VersionFinder::~VersionFinder() = default;

FileVersionFinder::FileVersionFinder(const std::string& path)
    : path(NativeSeparators(ExpandPathPlaceholders(path)))
{
}

bool FileVersionFinder::FindVersion(std::string& version, bool& itemFound) const
{
    boost::system::error_code ec;
    const boost::filesystem::file_status status = boost::filesystem::status(path, ec);
    if (status.type() == boost::filesystem::status_error) {
        itemFound = false;
        return false;
    }
    itemFound = boost::filesystem::exists(status);
    if (!itemFound)
        return false;
    const bool ok = ReadFileVersion(path.string(), version);
    if (ok)
        Logger().Debug(LogCategory::UpdateManager, "FileVersion: Found version ", version, " for item ", path.string());
    return ok;
}

RegKeyVersionFinder::RegKeyVersionFinder(const std::wstring& valuePath, const std::wstring& itemPart,
                                         const std::wstring& middlePart)
    : itemPart(itemPart)
    , middlePart(middlePart)
{
    const std::size_t separator = valuePath.find_last_of(L"/\\");
    if (separator == std::wstring::npos) {
        keyPath = valuePath;
        valueName = valuePath;
    } else {
        keyPath = valuePath.substr(0, separator);
        valueName = valuePath.substr(separator + 1);
    }
}

bool RegKeyVersionFinder::FindVersion(std::string& version, bool& itemFound) const
{
    itemFound = false;
    std::string value;
    if (!ReadRegistryValue(keyPath, valueName, value))
        return false;
    // An empty folder would name the current folder: nothing is installed.
    if (value.empty())
        return false;

    boost::filesystem::path file(NativeSeparators(value));
    file /= NativeSeparators(platform::NarrowFromWide(middlePart));
    file /= NativeSeparators(platform::NarrowFromWide(itemPart));

    boost::system::error_code ec;
    const boost::filesystem::file_status status = boost::filesystem::status(file, ec);
    if (status.type() == boost::filesystem::status_error || !boost::filesystem::exists(status))
        return false;
    itemFound = true;
    const bool ok = ReadFileVersion(file.string(), version);
    if (ok)
        Logger().Debug(LogCategory::UpdateManager, "RegKeyVersion: Found version ", version, " for item ",
                       platform::NarrowFromWide(keyPath), "/", platform::NarrowFromWide(valueName));
    return ok;
}

VersionFinderSet::VersionFinderSet() = default;
VersionFinderSet::VersionFinderSet(VersionFinderSet&&) noexcept = default;
VersionFinderSet& VersionFinderSet::operator=(VersionFinderSet&&) noexcept = default;
VersionFinderSet::~VersionFinderSet() = default;

void VersionFinderSet::Add(std::unique_ptr<VersionFinder> finder)
{
    if (finder)
        finders.push_back(std::move(finder));
}

bool VersionFinderSet::FindVersion(std::string& version, bool& itemFound) const
{
    itemFound = false;
    version = UnknownVersion;
    for (const std::unique_ptr<VersionFinder>& finder : finders) {
        bool found = false;
        const bool ok = finder->FindVersion(version, found);
        itemFound = itemFound || found;
        if (ok)
            return true;
    }
    if (!itemFound)
        version = NotInstalledVersion;
    Logger().Debug(LogCategory::UpdateManager, "VersionFinderSet: Didn't find any version number.");
    return false;
}

std::string ExpandPathPlaceholders(std::string path)
{
    if (path.empty() || path[0] != '<')
        return path;
    const std::size_t end = path.find('>');
    if (end == std::string::npos)
        return path;
    const std::string token = path.substr(0, end + 1);

    static const std::pair<const char*, KnownFolderId> placeholders[] = {
        {"<pf86>", KnownFolderId::ProgramFilesX86},
        {"<pf64>", KnownFolderId::ProgramFilesX64},
        {"<data>", KnownFolderId::ProgramData},
        {"<user>", KnownFolderId::Profile},
    };
    for (const auto& placeholder : placeholders) {
        if (token != placeholder.first)
            continue;
        std::string folder;
        if (!GetKnownFolderPath(placeholder.second, folder))
            return path;
        return folder + path.substr(end + 1);
    }
    return path;
}

bool ReadFileVersion(const std::string& filePath, std::string& version)
{
    platform::FileVersion fixed;
    if (platform::ReadFixedFileVersion(filePath, fixed) != platform::FileVersionStatus::Found)
        return false;
    version = std::to_string(fixed.major) + "." + std::to_string(fixed.minor) + "." + std::to_string(fixed.build) +
              "." + std::to_string(fixed.revision);
    return true;
}

} // namespace UpdateManager
} // namespace Quendal
