#pragma once
// Scanner definitions: for each product SKU, the rules that find the
// installed version (files and registry values), read from a JSON file.
//
//   { "scanner": [
//       { "name": "Product", "sku": "SKU-1",
//         "rules": [ { "file": "<pf86>\\Vendor\\Product\\product.exe" },
//                    { "regkey": [ "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir",
//                                  "product.exe", "bin" ] } ] } ] }
//
// Comments (// to the end of the line, /* ... */) are allowed outside texts.

#include "UpdateManager/ProductKey.h"
#include "UpdateManager/VersionFinder.h"

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree_fwd.hpp>

#include <map>
#include <string>
#include <utility>

namespace Quendal {
namespace UpdateManager {

class ScannerDefinitions {
public:
    // Loads the file at once; a failure is logged and leaves no definitions.
    explicit ScannerDefinitions(const boost::filesystem::path& scannerDefinitionFile);

    // Fills the definitions from the file. True when it was read and parsed,
    // also without a "scanner" member; false when it is missing, cannot be
    // examined or read, or is not a JSON object or array.
    bool Load(const boost::filesystem::path& path);

    // Makes a finder of each rule of one "rules" array and appends it to the
    // SKU's set.
    void AddRules(const std::string& sku, const boost::property_tree::ptree& rules);

    // The installed version of one SKU: a version, "unknown" or
    // "not_installed"; the key's type is "soft".
    std::pair<ProductKey, std::string> SearchVersion(const std::string& sku) const;

    // The installed version of every SKU that has definitions.
    std::map<ProductKey, std::string> CompleteScan() const;

private:
    // Tests read the load result and the finders per SKU through it.
    friend struct ScannerDefinitionsProbe;

    std::map<std::string, VersionFinderSet> definitions;
    bool loaded = false;
};

} // namespace UpdateManager
} // namespace Quendal
