#pragma once
// The resources web service: request path and the checks on its answer.

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Quendal {
namespace UpdateManager {

// "/api/resources/" + type + "/" + sku + "/" + platform + "/" + version,
// nothing escaped. Note the order: the arguments give sku first, the path
// has type first.
std::string ResourcesApiPath(const std::string& sku, const std::string& type, const std::string& platform,
                             const std::string& version);

// The service's answer {"total": n, "resources": [...]}: valid when
// "resources" holds exactly "total" children, at least one; the first child
// is the resource.
class ResourceResponse {
public:
    explicit ResourceResponse(const boost::property_tree::ptree& answer);

    // Checks the answer and keeps its first resource; logs what is wrong.
    // Never throws.
    void Parse(const boost::property_tree::ptree& answer);

    bool IsValid() const { return valid; }
    const boost::property_tree::ptree& GetResource() const { return resource; }

    // Debugging aid: writes the resource tree to standard output. Part of the
    // design's interface; nothing calls it.
    void Dump() const;

private:
    void DumpPtree(const std::string& key, const boost::property_tree::ptree& node, int depth) const;

    bool valid;
    boost::property_tree::ptree resource;
};

} // namespace UpdateManager
} // namespace Quendal
