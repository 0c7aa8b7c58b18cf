#pragma once
// Version finders: which version of a product's file is installed here.

#include <boost/filesystem/path.hpp>

#include <memory>
#include <string>
#include <vector>

namespace Quendal {
namespace UpdateManager {

class VersionFinder {
public:
    virtual ~VersionFinder();

    // True with `version` set when a version was found. `itemFound` tells
    // whether the finder's item exists. `version` is written only on true.
    virtual bool FindVersion(std::string& version, bool& itemFound) const = 0;
};

// The version resource of one file.
class FileVersionFinder : public VersionFinder {
public:
    // `path` may start with a folder placeholder ("<pf86>", "<pf64>",
    // "<data>", "<user>"), expanded now; '\' separates path parts.
    explicit FileVersionFinder(const std::string& path);

    bool FindVersion(std::string& version, bool& itemFound) const override;

    const boost::filesystem::path& GetPath() const { return path; }

private:
    boost::filesystem::path path;
};

// The version resource of a file below a folder named by a registry string
// value: folder\middlePart\itemPart.
class RegKeyVersionFinder : public VersionFinder {
public:
    RegKeyVersionFinder(const std::wstring& valuePath, const std::wstring& itemPart, const std::wstring& middlePart);

    bool FindVersion(std::string& version, bool& itemFound) const override;

    const std::wstring& GetKeyPath() const { return keyPath; }
    const std::wstring& GetValueName() const { return valueName; }
    const std::wstring& GetItemPart() const { return itemPart; }
    const std::wstring& GetMiddlePart() const { return middlePart; }

private:
    std::wstring keyPath;
    std::wstring valueName;
    std::wstring itemPart;
    std::wstring middlePart;
};

// The finders of one product, asked in order until one finds a version.
// Answers the version, "unknown" (an item was found, no version) or
// "not_installed" (no item found).
class VersionFinderSet : public VersionFinder {
public:
    VersionFinderSet();
    VersionFinderSet(VersionFinderSet&&) noexcept;
    VersionFinderSet& operator=(VersionFinderSet&&) noexcept;
    ~VersionFinderSet() override;

    void Add(std::unique_ptr<VersionFinder> finder);
    std::size_t Count() const { return finders.size(); }

    bool FindVersion(std::string& version, bool& itemFound) const override;

private:
    std::vector<std::unique_ptr<VersionFinder>> finders;
};

// A known-folder placeholder at the very start of `path` replaced by the
// folder's path; any other text is given back unchanged.
std::string ExpandPathPlaceholders(std::string path);

// The file version of the file's version resource as "major.minor.build.
// revision"; false (version unchanged) when the file has none.
bool ReadFileVersion(const std::string& filePath, std::string& version);

} // namespace UpdateManager
} // namespace Quendal
