#pragma once
// One product's installer file: where it comes from and lies, how much of a
// partial download is there, the product's status, and its run.

#include "UpdateManager/UpdateStatus.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <string>

namespace Quendal {
namespace UpdateManager {

class Installer {
public:
    Installer();
    // Takes url, path and status, then evaluates the status from the two
    // versions and the files on disk (CheckState) and counts as set up.
    Installer(const std::string& url, const boost::filesystem::path& installerPath, UpdateStatus status,
              const std::string& localVersion, const std::string& remoteVersion);
    Installer(const std::string& url, const boost::filesystem::path& installerPath, UpdateStatus status);
    Installer(const Installer& other);
    Installer& operator=(const Installer& other);
    virtual ~Installer();

    void Reset(const std::string& url, const boost::filesystem::path& installerPath, UpdateStatus status,
               const std::string& localVersion, const std::string& remoteVersion);
    void SetSource(const std::string& url, const boost::filesystem::path& installerPath);

    // Status from the versions, the installer file and its confirm file.
    // Leaves a download or install under way (3, 7, 8) alone.
    void CheckState(const std::string& localVersion, const std::string& remoteVersion);

    // Writes the confirm file (size and MD5 of the installer file; an empty
    // checksum is computed from the file). False when it cannot be written:
    // then an error line, no confirm file, and status DownloadError.
    bool WriteConfirmFile(const std::string& checksum);

    // The installer path's text + ".confirm".
    boost::filesystem::path GetConfirmPath() const;

    std::string GetUrl() const;
    boost::filesystem::path GetInstallerPath() const;
    int64_t GetByteCount() const;
    UpdateStatus GetStatus() const;
    void SetStatus(UpdateStatus value);
    double GetProgress() const;
    // The status the last install run ended with (2, 9 or 11), whatever was
    // set afterwards; Error before any run.
    UpdateStatus GetRunStatus() const;
    void SetSilent(bool value);
    bool IsInitialised() const;

    // Queues this record on the process-wide install thread (which starts on
    // first use). False when the queue is full: then an error line and
    // status Error. The record must stay alive until the install thread
    // hands it back.
    bool Launch();

    // Install thread: runs the installer, waits for it and leaves the final
    // status (UpdateNeeded when the file is gone, InstallComplete, Error).
    void Run();

    // Starts the program at `path` ("/SILENT" as its one argument when
    // silent) and waits for it. True when it exited with code 0.
    bool RunInstaller(const std::string& path, bool silent);

private:
    bool initialised;
    std::string url;
    boost::filesystem::path installerPath;
    int64_t byteCount;
    std::atomic<UpdateStatus> status;
    bool silent;
    std::atomic<double> installProgress;
    std::atomic<UpdateStatus> runStatus;
};

} // namespace UpdateManager
} // namespace Quendal
