#include "UpdateManager/Installer.h"

#include "Common/Helpers.h"
#include "Common/Log.h"
#include "Common/Numbers.h"
#include "UpdateManager/InstallThread.h"
#include "UpdateManager/JsonNesting.h"
#include "UpdateManager/Version.h"
#include "platform/Process.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>
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
    // Digits only: a negative size could never match a file's size anyway.
    int64_t value = 0;
    return ParseDigits(node->data(), value) ? value : 0;
}

// Why the confirm file's text cannot be had, or empty when it can.
std::string ConfirmReadError(const fs::path& confirmPath, std::string& text)
{
    switch (ReadRegularFile(confirmPath, MaxTextFileSize, text)) {
    case FileRead::Ok:
        break;
    case FileRead::NotRegularFile:
        return "not a regular file";
    case FileRead::TooLarge:
        return "larger than " + std::to_string(MaxTextFileSize) + " bytes";
    case FileRead::Unreadable:
    default:
        return "cannot open file";
    }
    // The reader is recursive: deeper text could exhaust the stack.
    if (!JsonNestingWithinLimit(text))
        return "nested deeper than " + std::to_string(MaxJsonNesting) + " levels";
    return std::string();
}

// Reads the confirm file into `tree`. False, with the error line and `tree`
// empty, when it cannot be read, is not a regular file, is too large or too
// deeply nested, or is not JSON.
bool ReadConfirmFile(const fs::path& confirmPath, pt::ptree& tree)
{
    const std::string pathText = confirmPath.string();
    std::string text;
    const std::string error = ConfirmReadError(confirmPath, text);
    if (!error.empty()) {
        Logger().Error(LogCategory::UpdateManager, "Error reading confirm file ", pathText, "(", pathText, ": ", error,
                       ")");
        return false;
    }
    try {
        std::istringstream in(text);
        pt::read_json(in, tree);
        return true;
    } catch (const pt::ptree_error& e) {
        Logger().Error(LogCategory::UpdateManager, "Error reading confirm file ", pathText, "(", e.what(), ")");
        tree.clear();
        return false;
    }
}

// Writes the confirm file. False, with the error line, when it cannot be
// written; a half-written file is removed, as it must not validate anything.
bool WriteConfirmTree(const fs::path& confirmPath, int64_t size, const std::string& digest)
{
    const std::string pathText = confirmPath.string();
    fs::ofstream out(confirmPath, std::ios::out | std::ios::trunc);
    if (!out) {
        Logger().Error(LogCategory::UpdateManager, "Failed to write confirm file ", pathText, "(", pathText,
                       ": cannot open file)");
        return false;
    }
    std::string error;
    try {
        pt::ptree tree;
        tree.put("size", size);
        tree.put("checksum", digest);
        pt::write_json(out, tree, true);
        out.close();
        if (out.fail())
            error = pathText + ": write error";
    } catch (const std::exception& e) { // the JSON writer's errors, and the stream's
        error = e.what();
    }
    if (error.empty())
        return true;
    Logger().Error(LogCategory::UpdateManager, "Failed to write confirm file ", pathText, "(", error, ")");
    out.close();
    boost::system::error_code ignored;
    fs::remove(confirmPath, ignored);
    return false;
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
        ReadConfirmFile(confirmPath, tree);
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
        Logger().Error(LogCategory::UpdateManager, "Failed to read size of ", installerPath.string(), "(", e.what(),
                       ")");
        status = UpdateStatus::Error;
    }
}

bool Installer::WriteConfirmFile(const std::string& checksum)
{
    const int64_t size = static_cast<int64_t>(GetFileSizeOrZero(installerPath));
    const std::string digest =
        boost::algorithm::to_lower_copy(checksum.empty() ? GetFileChecksum(installerPath) : checksum);
    if (WriteConfirmTree(GetConfirmPath(), size, digest))
        return true;
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
