#include "UpdateManager/DownloaderBackgrounder.h"

#include "Common/Globals.h"
#include "Common/Helpers.h"
#include "Common/Log.h"
#include "UpdateManager/UrlText.h"

#include <Poco/URI.h>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fstream>
#include <system_error>
#include <utility>

namespace Quendal {
namespace UpdateManager {

namespace {

// Logs the file call that has just failed, with the reason errno holds,
// and gives Failed.
DownloadState FileCallFailed(const char* action, const std::string& file, const char* detail)
{
    const int error = errno;
    const std::string reason = error != 0 ? std::generic_category().message(error) : std::string("unknown error");
    Logger().Error(LogCategory::Download, action, file, detail, reason);
    return DownloadState::Failed;
}

} // namespace

// Marks a job ended when it leaves, whichever way.
class DownloaderBackgrounder::JobEnd {
public:
    JobEnd(DownloaderBackgrounder& owner, int job)
        : owner(owner)
        , job(job)
    {
    }
    ~JobEnd() { owner.EndJob(job); }
    JobEnd(const JobEnd&) = delete;
    JobEnd& operator=(const JobEnd&) = delete;

private:
    DownloaderBackgrounder& owner;
    const int job;
};

DownloaderBackgrounder::Data::Data(std::string url, std::string file, std::string checksum, int64_t expectedSize,
                                   int64_t resumeOffset)
    : url(std::move(url))
    , file(std::move(file))
    , checksum(std::move(checksum))
    , expectedSize(expectedSize)
    , resumeOffset(resumeOffset)
{
}

DownloaderBackgrounder::DownloaderBackgrounder(const std::string& name, std::chrono::milliseconds timeout)
    : downloader(ActiveDownloader::Create(name))
    , request(timeout)
{
}

DownloaderBackgrounder::~DownloaderBackgrounder()
{
    // The jobs use the members below: end them and the worker first.
    Stop(true);
    downloader.reset();
}

DownloaderBackgrounder::Outcome DownloaderBackgrounder::GetOutcome() const
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    return Outcome{GetState(), checksum};
}

bool DownloaderBackgrounder::IsFinished() const
{
    const DownloadState current = GetState();
    return current != DownloadState::Idle && current != DownloadState::Downloading;
}

void DownloaderBackgrounder::Start(Data data)
{
    std::shared_ptr<Data> record = std::make_shared<Data>(std::move(data));
    int job = 0;
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        job = ++postedJobs;
        state.store(static_cast<int>(DownloadState::Idle));
        checksum.clear();
    }
    try {
        if (boost::algorithm::istarts_with(record->url, "ftp://")) {
            downloader->Post([this, record, job] { FtpDownload(record, job); });
            return;
        }
        if (!StartsWithSchemeColonSlashSlash(record->url))
            record->url = "http://" + record->url;
        downloader->Post([this, record, job] { HttpDownload(record, job); });
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::Download, "Can't queue the download of ", MaskPassword(record->url), ": ",
                       e.what());
        SetState(job, DownloadState::Failed);
        EndJob(job);
    }
}

void DownloaderBackgrounder::Stop(bool wait)
{
    std::unique_lock<std::mutex> lock(jobsMutex);
    const int last = postedJobs;
    if (endedJobs >= last)
        return; // no job to stop
    commands.Push(last);
    if (wait)
        jobEnded.wait(lock, [this, last] { return endedJobs >= last; });
}

bool DownloaderBackgrounder::IsStopped(int job)
{
    int last = 0;
    while (commands.TryPop(last))
        stoppedUpTo = std::max(stoppedUpTo, last);
    return job <= stoppedUpTo;
}

void DownloaderBackgrounder::SetState(int job, DownloadState value, std::string computed)
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    if (job != postedJobs)
        return;
    state.store(static_cast<int>(value));
    checksum = std::move(computed);
}

void DownloaderBackgrounder::EndJob(int job)
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    endedJobs = std::max(endedJobs, job);
    jobEnded.notify_all();
}

std::string DownloaderBackgrounder::NormalizeUrl(std::shared_ptr<Data> data)
{
    Poco::URI uri(data->url);
    if (uri.getScheme().empty())
        uri.setScheme(HttpScheme);
    return uri.toString();
}

void DownloaderBackgrounder::FtpDownload(std::shared_ptr<Data> data, int job)
{
    JobEnd end(*this, job);
    std::lock_guard<std::mutex> jobLock(jobMutex);
    try {
        IsStopped(job);
        Logger().Error(LogCategory::Download, "Can't download ", MaskPassword(data->url), ": FTP is not supported");
    } catch (...) {
    }
    SetState(job, DownloadState::Failed);
}

void DownloaderBackgrounder::HttpDownload(std::shared_ptr<Data> data, int job)
{
    namespace fs = boost::filesystem;
    JobEnd end(*this, job);
    std::lock_guard<std::mutex> jobLock(jobMutex);

    DownloadState result = DownloadState::Failed;
    std::string computed;
    std::string text;
    try {
        const fs::path target(data->file);
        text = target.string();
        Logger().Info(LogCategory::Download, "HttpDownload Start ", MaskPassword(data->url), " -> ", target,
                      " (expected size: ", data->expectedSize, ", checksum: ", data->checksum);

        if (IsStopped(job)) {
            result = DownloadState::Paused; // stopped before it began
        } else {
            const std::string url = NormalizeUrl(data);
            SetState(job, DownloadState::Downloading);

            // A partial file is kept only when its size is the recorded offset.
            int64_t size = 0;
            if (fs::exists(fs::status(target)))
                size = static_cast<int64_t>(fs::file_size(target));
            if (data->resumeOffset != size) {
                data->resumeOffset = 0;
                fs::remove(target);
            }
            if (data->expectedSize > 0 && data->resumeOffset >= 0)
                progress.store(
                    std::min(1.0, static_cast<double>(data->resumeOffset) / static_cast<double>(data->expectedSize)));
            else
                progress.store(0.0);

            result = Transfer(data, job, url, target);
        }
        Logger().Info(LogCategory::Download, "Download complete (", target, ")");

        if (result == DownloadState::Downloading)
            result = Verify(data, target, computed);
    } catch (const std::exception& e) {
        Logger().Error(LogCategory::Download, "Error while downloading ", MaskPassword(data->url), " to ", text, " : ",
                       e.what());
        result = DownloadState::Failed;
    } catch (...) {
        Logger().Error(LogCategory::Download, "Error while downloading ", MaskPassword(data->url), " to ", text,
                       " : unknown exception");
        result = DownloadState::Failed;
    }
    IsStopped(job); // a stop that came too late for this job is used up
    SetState(job, result, std::move(computed));
}

DownloadState DownloaderBackgrounder::Transfer(std::shared_ptr<Data> data, int job, const std::string& url,
                                               const boost::filesystem::path& target)
{
    const std::string text = target.string();
    errno = 0;
    std::ofstream file(target.c_str(), std::ios_base::out | std::ios_base::app | std::ios_base::binary);
    if (!file)
        return FileCallFailed("Can't open ", text, " for writing: ");

    request.SetResumeOffset(data->resumeOffset);
    request.Open(url);
    totalSize = request.GetTotalSize();

    DownloadState result = DownloadState::Downloading;
    if (!request.IsAccepted()) {
        result =
            request.GetStatus() == TransferStatus::ConnectionFailed ? DownloadState::Paused : DownloadState::Failed;
    } else {
        if (data->resumeOffset > 0 && request.IsRangeIgnored()) {
            // The server sent the whole file: write it from the start.
            Logger().Info(LogCategory::Download, "The server sent the whole file; ", text,
                          " is downloaded again from the start");
            data->resumeOffset = 0;
            file.close();
            errno = 0;
            file.open(target.c_str(), std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
            if (!file)
                result = FileCallFailed("Error while writing ", text, ": ");
        }
        progress.store(request.GetProgress());
        while (result == DownloadState::Downloading && request.HasMoreData()) {
            errno = 0;
            const int64_t n = request.ReadChunk(file);
            if (!file) {
                result = FileCallFailed("Error while writing ", text, ": ");
                break;
            }
            if (n == 0) {
                result = DownloadState::Paused;
                break;
            }
            progress.store(request.GetProgress());
            if (IsStopped(job))
                result = DownloadState::Paused;
        }
        if (result == DownloadState::Downloading) {
            switch (request.GetStatus()) {
            case TransferStatus::Interrupted:
                result = DownloadState::Paused;
                break;
            case TransferStatus::Error:
                result = DownloadState::Failed;
                break;
            default:
                break;
            }
        }
    }
    if (file.is_open()) {
        errno = 0;
        file.close();
        if (!file && result != DownloadState::Failed)
            result = FileCallFailed("Error while writing ", text, ": ");
    }
    return result;
}

DownloadState DownloaderBackgrounder::Verify(std::shared_ptr<Data> data, boost::filesystem::path target,
                                             std::string& computed)
{
    DownloadState result = DownloadState::Completed;
    const std::string text = target.string();

    // The transfer's total; when the server gave none, the release's size.
    const int64_t expected = totalSize > 0 ? totalSize : data->expectedSize;
    const int64_t measured = static_cast<int64_t>(GetFileSizeOrZero(target));
    if (expected <= 0) {
        Logger().Error(LogCategory::Download, "Invalid expected size for ", data->file, " (", totalSize, ")");
    } else if (measured != expected) {
        Logger().Error(LogCategory::Download, "The size of ", text, " is ", measured, " while ", expected,
                       " is expected");
        result = DownloadState::Failed;
    }
    if (measured == 0 && result == DownloadState::Completed) {
        Logger().Error(LogCategory::Download, "The size of ", text, " is 0 while a non-empty file is expected");
        result = DownloadState::Failed;
    }

    computed.clear();
    if (data->checksum.empty()) {
        Logger().Warning(LogCategory::Download, "No expected checksum for ", text, ". Can't verify download.");
    } else {
        computed = GetFileChecksum(target);
        Logger().Debug(LogCategory::Download, "Checksum : '", computed, "'. Expected: '", data->checksum, "'");
        if (computed.empty() || !boost::algorithm::iequals(computed, data->checksum)) {
            Logger().Error(LogCategory::Download, "Bad checksum for ", text);
            result = DownloadState::Failed;
        }
    }
    return result;
}

} // namespace UpdateManager
} // namespace Quendal
