#pragma once
// Fills a ProductDescription from one resource of the resources web service.

#include "UpdateManager/ProductDescription.h"

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Quendal {
namespace UpdateManager {

class ProductDescriptionFactory {
public:
    // Fills `out` from `resource`, whose "product_sku" must equal inSKU
    // exactly. Required: "product_sku", "name", "permalink", "version", and
    // "resources_site_link" when "links.product_page.href" is missing or
    // empty. False (logged) when the sku differs, out untouched, or when a
    // required member is missing, out partly filled. Release notes, when
    // present, are written under the resources folder; a failure there does
    // not fail the call.
    virtual bool Create(const std::string& inSKU, const std::string& type, const std::string& localVersion,
                        const boost::property_tree::ptree& resource, ProductDescription& out);

private:
    void WriteReleaseNotes(const std::string& inSKU, const std::string& html, ProductDescription& out);
};

// The part of `path` before its last slash or backslash, with every slash
// and backslash in it turned into this platform's separator; empty when the
// path holds neither.
std::string ParentFolder(const std::string& path);

// `text` made safe as one file name: no separators, no "..", no characters
// that a file system refuses; "_" for the empty text.
std::string SafeFileName(const std::string& text);

} // namespace UpdateManager
} // namespace Quendal
