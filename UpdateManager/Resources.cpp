#include "UpdateManager/Resources.h"

#include "Common/Log.h"

namespace Quendal {

Resources::Resources() = default;

Resources::~Resources() = default;

std::string Resources::GetFolder() const
{
    std::string copy;
    {
        std::lock_guard<std::mutex> lock(fieldsMutex);
        copy = folder;
    }
    if (copy.empty())
        CSingleton<CLog>::GetInstance()->Error("description", "Resources Folder not yet defined");
    return copy;
}

void Resources::SetFolderForTesting(const std::string& newFolder)
{
    std::lock_guard<std::mutex> lock(fieldsMutex);
    folder = newFolder;
}

} // namespace Quendal
