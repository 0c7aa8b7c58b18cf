#include "UpdateManager/ProductDescriptionFactory.h"

#include "Common/Helpers.h"
#include "Common/Log.h"
#include "Common/Numbers.h"
#include "UpdateManager/Resources.h"
#include "platform/Path.h"

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include <fstream>
#include <string_view>

namespace Quendal {
namespace UpdateManager {

namespace pt = boost::property_tree;
namespace fs = boost::filesystem;

namespace {

const char* const CreateLabel = "Quendal::UpdateManager::ProductDescriptionFactory::Create";

// "size" of a resource: an unsigned 64-bit decimal number, white space
// around it and a leading '+' allowed. False for anything else (negative, fraction, word,
// too big).
bool ReadResourceSize(const std::string& text, uint64_t& size)
{
    std::string_view digits = TrimAsciiSpace(text);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    return ParseDigits(digits, size);
}

} // namespace

std::string ParentFolder(const std::string& path)
{
    const std::size_t k = path.find_last_of("/\\");
    if (k == std::string::npos)
        return std::string();
    std::string folder = path.substr(0, k);
    const std::string separator(1, platform::PathSeparator);
    folder = ReplaceAll(folder, "/", separator);
    folder = ReplaceAll(folder, "\\", separator);
    return folder;
}

std::string SafeFileName(const std::string& text)
{
    std::string name = text;
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            c = '_';
    }
    name = ReplaceAll(name, "..", "__");
    if (name.empty())
        name = "_";
    return name;
}

bool ProductDescriptionFactory::Create(const std::string& inSKU, const std::string& type,
                                       const std::string& localVersion, const pt::ptree& resource,
                                       ProductDescription& out)
{
    try {
        const std::string skuText = resource.get<std::string>("product_sku");
        if (skuText != inSKU) {
            Logger().Error(LogCategory::Description, "Failed to find sku", "\n", "[LOG] ## ", "sku", " = ", skuText,
                           "\n", "[LOG] ## ", "inSKU", " = ", inSKU);
            return false;
        }
        out.sku = inSKU;
        out.type = type;
        out.localVersion = localVersion;

        out.name = resource.get<std::string>("name");
        out.permalink = resource.get<std::string>("permalink");
        out.version = resource.get<std::string>("version");

        out.productPage = resource.get<std::string>("links.product_page.href", "");
        if (out.productPage.empty())
            out.productPage = resource.get<std::string>("resources_site_link");

        const std::string html = resource.get<std::string>("release_notes_html", "");
        if (!html.empty())
            WriteReleaseNotes(inSKU, html, out);

        out.platformMinVersion = resource.get<std::string>("platform_min_version", "");
        out.platformMaxVersion = resource.get<std::string>("platform_max_version", "");
        out.platformDisplayVersion = resource.get<std::string>("platform_display_version", "");

        uint64_t size = 0;
        const auto sizeText = resource.get_optional<std::string>("size");
        if (!sizeText || !ReadResourceSize(*sizeText, size))
            size = 0;
        out.size = size;

        out.checksum = resource.get<std::string>("checksum", "");
        return true;
    } catch (const pt::ptree_error& e) {
        Logger().Error(LogCategory::Description, CreateLabel, e.what());
        return false;
    }
}

void ProductDescriptionFactory::WriteReleaseNotes(const std::string& inSKU, const std::string& html,
                                                  ProductDescription& out)
{
    const std::string folder = CSingleton<Quendal::Resources>::GetInstance()->GetFolder();
    const std::string dest = folder + "temp";
    try {
        const std::string parent = ParentFolder(dest);
        if (parent.empty() || !fs::exists(fs::path(parent)))
            return;
        if (!fs::exists(fs::path(dest)))
            fs::create_directory(fs::path(dest));

        const std::string file = dest + GetPathSeparator() + SafeFileName(inSKU) + ".html";
        std::ofstream stream(file, std::ios::out | std::ios::trunc);
        if (!stream)
            return;
        stream << html;
        stream.close();
        if (stream.fail()) {
            // A short notes file is worse than none.
            boost::system::error_code ignored;
            fs::remove(fs::path(file), ignored);
            return;
        }
        out.releaseNotes = "file://" + file;
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::Description, CreateLabel, e.what(), "\n", "[LOG] ## ", "dest_dir", " = ", dest);
    }
}

} // namespace UpdateManager
} // namespace Quendal
