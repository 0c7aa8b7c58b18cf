#pragma once
// Downloads one product's installer in the background, one job at a time on
// the product's own worker thread, and verifies its size and MD5 checksum.

#include "UpdateManager/ActiveDownloader.h"
#include "UpdateManager/BlockingQueue.h"
#include "UpdateManager/HttpDownloadRequest.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Quendal {
namespace UpdateManager {

// The job's state word. 3 is never set.
enum class DownloadState : int {
    Idle = 0,
    Downloading = 1,
    Paused = 2,
    Completed = 4,
    Failed = 5,
};

class DownloaderBackgrounder {
public:
    // What one job downloads.
    struct Data {
        Data(std::string url, std::string file, std::string checksum, int64_t expectedSize, int64_t resumeOffset);

        std::string url;
        std::string file;         // target path as narrow text
        std::string checksum;     // expected MD5 as hex text; empty when unknown
        int64_t expectedSize = 0; // the release's announced size
        int64_t resumeOffset = 0; // size of the partial file to continue; 0 = fresh
    };

    // Starts the worker thread, named after the product ("soft/SKU"); the
    // request's socket time-out is `timeout`.
    explicit DownloaderBackgrounder(const std::string& name,
                                    std::chrono::milliseconds timeout = HttpDownloadRequest::DefaultTimeout);
    // Stops the running job, cancels queued ones and joins the worker.
    ~DownloaderBackgrounder();

    DownloaderBackgrounder(const DownloaderBackgrounder&) = delete;
    DownloaderBackgrounder& operator=(const DownloaderBackgrounder&) = delete;

    // Sets the state word to Idle and queues a job for `data`; the job runs
    // after the jobs queued before it.
    void Start(Data data);
    // Stops the jobs started so far: a running one after its current chunk,
    // a queued one before it begins. With `wait`, returns once they have
    // ended. Jobs started later are not affected.
    void Stop(bool wait);

    // What the job started last has come to, taken in one step (both are set
    // together under one lock): its state word and the MD5 (lower-case hex)
    // its verification computed. Use the checksum once `state` is Completed:
    // it is then the completed file's. It is empty before verification and
    // when no checksum was expected.
    struct Outcome {
        DownloadState state = DownloadState::Idle;
        std::string checksum;
    };

    double GetProgress() const { return progress.load(); }
    Outcome GetOutcome() const;
    bool IsFinished() const;
    // The state word alone.
    DownloadState GetState() const { return static_cast<DownloadState>(state.load()); }

private:
    void HttpDownload(std::shared_ptr<Data> data, int job);
    void FtpDownload(std::shared_ptr<Data> data, int job);
    // Checks size and checksum; `computed` gets the file's MD5 when one was expected.
    DownloadState Verify(std::shared_ptr<Data> data, boost::filesystem::path target, std::string& computed);
    std::string NormalizeUrl(std::shared_ptr<Data> data);
    // Opens the file and the request and moves the body into the file;
    // Downloading when the transfer is complete and is to be verified.
    DownloadState Transfer(std::shared_ptr<Data> data, int job, const std::string& url,
                           const boost::filesystem::path& target);

    // Worker side: takes the stop commands and tells whether `job` is stopped.
    bool IsStopped(int job);
    // Stores the state word, with the checksum that goes with it, unless a
    // later Start has taken them over.
    void SetState(int job, DownloadState value, std::string computed = std::string());
    void EndJob(int job);
    class JobEnd;

    std::unique_ptr<ActiveDownloader> downloader;
    // Stop commands: each carries the number of the last job it stops.
    BlockingQueue<int> commands;
    std::atomic<double> progress{0.0};
    // The state word (a DownloadState): stored under jobsMutex, loaded anywhere.
    std::atomic<int> state{static_cast<int>(DownloadState::Idle)};
    HttpDownloadRequest request;
    int64_t totalSize = 0; // worker only: the transfer's total, which Verify expects
    std::string checksum;  // guarded by jobsMutex; set with the state word
    std::mutex jobMutex;   // held by a job from its start to its end

    // Job numbers: Start hands them out in posting order.
    mutable std::mutex jobsMutex;
    std::condition_variable jobEnded;
    int postedJobs = 0;  // guarded by jobsMutex
    int endedJobs = 0;   // guarded by jobsMutex
    int stoppedUpTo = 0; // worker only: jobs up to this number are stopped
};

} // namespace UpdateManager
} // namespace Quendal
