#pragma once
// The process-wide resources store: names the folder that release notes
// are written under.

#include "Common/Singleton.h"

#include <string>
#include <vector>

namespace Quendal {

class Resources : public CSingleton<Resources> {
public:
    ~Resources() override;

    // A copy of the resources folder (ends with a separator when set); logs
    // when no folder is defined.
    std::string GetFolder() const;

    // Test seam: points the folder somewhere. The application never calls this.
    void SetFolderForTesting(const std::string& newFolder);

private:
    friend class CSingleton<Resources>;
    Resources();

    // In the design's record; nothing fills or reads it.
    std::vector<std::string> entries;
    std::string folder;
};

} // namespace Quendal
