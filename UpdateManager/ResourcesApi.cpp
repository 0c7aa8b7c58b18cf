#include "UpdateManager/ResourcesApi.h"

#include "Common/Log.h"

#include <iostream>
#include <sstream>

namespace Quendal {
namespace UpdateManager {

namespace pt = boost::property_tree;

std::string ResourcesApiPath(const std::string& sku, const std::string& type, const std::string& platform,
                             const std::string& version)
{
    std::ostringstream path;
    path << "/api/resources/" << type << "/" << sku << "/" << platform << "/" << version;
    return path.str();
}

ResourceResponse::ResourceResponse(const pt::ptree& answer)
    : valid(false)
{
    Parse(answer);
}

void ResourceResponse::Parse(const pt::ptree& answer)
{
    try {
        const int total = answer.get<int>("total");
        const pt::ptree list = answer.get_child("resources");
        const int count = static_cast<int>(list.size());
        if (count == 0) {
            Logger().Warning(LogCategory::UpdateManager, "Resource is empty");
        } else if (count == total) {
            resource = list.front().second;
            valid = true;
        } else {
            Logger().Error(LogCategory::UpdateManager, "Invalid resources: ", "got ", count, " while ",
                           "total indicates ", total);
        }
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::UpdateManager, "Error in resource parsing: ", e.what());
    } catch (...) {
        Logger().Error(LogCategory::UpdateManager, "Unknown error in resource parsing");
    }
}

void ResourceResponse::Dump() const
{
    DumpPtree("", resource, 0);
}

void ResourceResponse::DumpPtree(const std::string& key, const pt::ptree& node, int depth) const
{
    const std::string indent(depth > 0 ? static_cast<std::size_t>(depth) : 0u, ' ');
    std::cout << indent << "+" << key << " : " << node.data() << " {\n";
    for (const auto& child : node)
        DumpPtree(child.first, child.second, depth + 1);
    std::cout << indent << "}\n";
}

} // namespace UpdateManager
} // namespace Quendal
