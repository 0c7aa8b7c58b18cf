#include "UpdateManager/Installer.h"

#include "Common/Helpers.h"
#include "Common/Log.h"
#include "UpdateManager/InstallThread.h"
#include "UpdateManager/Version.h"
#include "platform/Process.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <charconv>
#include <vector>

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

namespace Quendal {
namespace UpdateManager {

namespace {

// "size" of a confirm tree: a JSON string or number holding a signed 64-bit
// integer; anything else is 0.
int64_t StoredSize(const pt::ptree& tree)
{
    boost::optional<const pt::ptree&> node = tree.get_child_optional("size");
    if (!node || !node->empty())
        return 0;
    const std::string& text = node->data();
    int64_t value = 0;
    const char* end = text.data() + text.size();
    std::from_chars_result parsed = std::from_chars(text.data(), end, value);
    if (parsed.ec != std::errc() || parsed.ptr != end)
        return 0;
    return value;
}

bool IsBusy(UpdateStatus value)
{
    return value == UpdateStatus::DownloadInProgress || value == UpdateStatus::InstallerStart ||
           value == UpdateStatus::InstallInProgress;
}

} // namespace

Installer::Installer()
    : initialised(false)
    , byteCount(0)
    , status(UpdateStatus::Error)
    , silent(false)
    , installProgress(-1.0)
    , runStatus(UpdateStatus::Error)
{
}

Installer::Installer(const std::string& url, const fs::path& installerPath, UpdateStatus status,
                     const std::string& localVersion, const std::string& remoteVersion)
    : Installer()
{
    Reset(url, installerPath, status, localVersion, remoteVersion);
}

Installer::Installer(const std::string& url, const fs::path& installerPath, UpdateStatus status)
    : Installer(url, installerPath, status, std::string(), std::string())
{
}

Installer::Installer(const Installer& other)
    : initialised(other.initialised)
    , url(other.url)
    , installerPath(other.installerPath)
    , byteCount(other.byteCount)
    , status(other.status.load())
    , silent(other.silent)
    , installProgress(other.installProgress.load())
    , runStatus(other.runStatus.load())
{
}

Installer& Installer::operator=(const Installer& other)
{
    if (this != &other) {
        initialised = other.initialised;
        url = other.url;
        installerPath = other.installerPath;
        byteCount = other.byteCount;
        status = other.status.load();
        silent = other.silent;
        installProgress = other.installProgress.load();
        runStatus = other.runStatus.load();
    }
    return *this;
}

Installer::~Installer() = default;

void Installer::Reset(const std::string& newUrl, const fs::path& newPath, UpdateStatus newStatus,
                      const std::string& localVersion, const std::string& remoteVersion)
{
    url = newUrl;
    installerPath = newPath;
    status = newStatus;
    byteCount = 0;
    CheckState(localVersion, remoteVersion);
    initialised = true;
}

void Installer::SetSource(const std::string& newUrl, const fs::path& newPath)
{
    url = newUrl;
    installerPath = newPath;
}

void Installer::CheckState(const std::string& localVersion, const std::string& remoteVersion)
{
    byteCount = 0;
    if (IsBusy(status.load()))
        return;

    const uint64_t local = ParseVersion(localVersion);
    const uint64_t remote = ParseVersion(remoteVersion);
    if (remote == 0) {
        status = UpdateStatus::Unknown;
        return;
    }
    if (local >= remote) {
        status = UpdateStatus::UpToDate;
        return;
    }

    const fs::path confirmPath = GetConfirmPath();
    bool installerExists = false;
    bool confirmExists = false;
    try {
        installerExists = fs::exists(installerPath);
        confirmExists = fs::exists(confirmPath);
    } catch (const fs::filesystem_error& e) {
        Logger().Warning(LogCategory::UpdateManager, "Failed to check file existence. (", e.what(), ")");
    }

    if (!installerExists) {
        status = UpdateStatus::UpdateNeeded;
        return;
    }

    if (confirmExists) {
        const int64_t size = static_cast<int64_t>(GetFileSizeOrZero(installerPath));
        pt::ptree tree;
        try {
            fs::ifstream in(confirmPath, std::ios::in | std::ios::binary);
            if (!in)
                throw pt::json_parser_error("cannot open file", confirmPath.string(), 0);
            pt::read_json(in, tree);
        } catch (const std::exception& e) { // parse errors, and read errors of the stream (a directory)
            Logger().Error(LogCategory::UpdateManager, "Error reading confirm file ", confirmPath.string(), "(", e.what(), ")");
            tree.clear();
        }
        if (size != 0 && StoredSize(tree) == size) {
            status = UpdateStatus::InstallerAvailable;
            return;
        }
        try {
            fs::remove(confirmPath);
        } catch (const fs::filesystem_error& e) {
            Logger().Error(LogCategory::UpdateManager, "Failed to remove ", confirmPath.string(), "(", e.what(), ")");
        }
    }

    // A partial download: resume from its size.
    try {
        const int64_t partial = static_cast<int64_t>(fs::file_size(installerPath));
        byteCount = partial;
        status = UpdateStatus::DownloadPaused;
    } catch (const fs::filesystem_error& e) {
        Logger().Error(LogCategory::UpdateManager, "Failed to read size of ", installerPath.string(), "(", e.what(), ")");
        status = UpdateStatus::Error;
    }
}

bool Installer::WriteConfirmFile(const std::string& checksum)
{
    const int64_t size = static_cast<int64_t>(GetFileSizeOrZero(installerPath));
    const std::string digest = boost::algorithm::to_lower_copy(checksum.empty() ? GetFileChecksum(installerPath)
                                                                                : checksum);
    const fs::path confirmPath = GetConfirmPath();
    bool opened = false;
    try {
        pt::ptree tree;
        tree.put("size", size);
        tree.put("checksum", digest);
        fs::ofstream out(confirmPath, std::ios::out | std::ios::trunc);
        if (!out)
            throw pt::json_parser_error("cannot open file", confirmPath.string(), 0);
        opened = true;
        pt::write_json(out, tree, true);
        out.close();
        if (out.fail())
            throw pt::json_parser_error("write error", confirmPath.string(), 0);
        return true;
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::UpdateManager, "Failed to write confirm file ", confirmPath.string(), "(", e.what(), ")");
    }
    if (opened) {
        // A half-written confirm file must not validate anything.
        boost::system::error_code ignored;
        fs::remove(confirmPath, ignored);
    }
    status = UpdateStatus::DownloadError;
    return false;
}

fs::path Installer::GetConfirmPath() const
{
    return fs::path(installerPath.string() + ".confirm");
}

std::string Installer::GetUrl() const
{
    return url;
}

fs::path Installer::GetInstallerPath() const
{
    return installerPath;
}

int64_t Installer::GetByteCount() const
{
    return byteCount;
}

UpdateStatus Installer::GetStatus() const
{
    return status.load();
}

void Installer::SetStatus(UpdateStatus value)
{
    status = value;
}

double Installer::GetProgress() const
{
    return installProgress.load();
}

UpdateStatus Installer::GetRunStatus() const
{
    return runStatus.load();
}

void Installer::SetSilent(bool value)
{
    silent = value;
}

bool Installer::IsInitialised() const
{
    return initialised;
}

bool Installer::Launch()
{
    if (CSingleton<InstallThread>::GetInstance()->Enqueue(this))
        return true;
    Logger().Error(LogCategory::Install, "Install queue is full; not running ", installerPath);
    status = UpdateStatus::Error;
    return false;
}

void Installer::Run()
{
    // Whichever way the run ends, its status is kept.
    struct RecordEnd {
        Installer& record;
        ~RecordEnd() { record.runStatus = record.status.load(); }
    } recordEnd{*this};

    Logger().Info(LogCategory::Install, "Run ", installerPath.string());
    installProgress = -1.0;
    try {
        const fs::file_status fileStatus = fs::status(installerPath);
        if (!fs::exists(fileStatus)) {
            Logger().Error(LogCategory::Install, installerPath, " does not exist");
            status = UpdateStatus::UpdateNeeded;
            return;
        }
        // A downloaded file is not executable yet.
        if (fs::is_regular_file(fileStatus) && (fileStatus.permissions() & fs::owner_exe) == 0)
            fs::permissions(installerPath, fs::add_perms | fs::owner_exe);
        const bool ok = RunInstaller(installerPath.string(), silent);
        status = ok ? UpdateStatus::InstallComplete : UpdateStatus::Error;
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::Install, "Failed to run installer: ", e.what());
        status = UpdateStatus::Error;
    }
}

bool Installer::RunInstaller(const std::string& path, bool silentRun)
{
    Logger().Info(LogCategory::Install, "Open", silentRun ? " silent" : "", " installer ", path);
    std::vector<std::string> args{path};
    if (silentRun)
        args.emplace_back("/SILENT");
    // -1 when it cannot be started or does not end normally.
    return platform::SpawnAndWait(path, args) == 0;
}

} // namespace UpdateManager
} // namespace Quendal
