#include "UpdateManager/Resources.h"

#include "Common/Log.h"

namespace Quendal {

Resources::Resources() = default;

Resources::~Resources() = default;

std::string Resources::GetFolder() const
{
    const std::string copy = folder;
    if (copy.empty())
        Logger().Error(LogCategory::Description, "Resources Folder not yet defined");
    return copy;
}

void Resources::SetFolderForTesting(const std::string& newFolder)
{
    folder = newFolder;
}

} // namespace Quendal
