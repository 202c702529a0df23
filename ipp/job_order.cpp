#include "ipp/job_order.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <utility>
#include <vector>

namespace qlpr::ipp {
namespace {

// Who prints on each printer, and how the jobs that printed ended.
class PrinterTurns {
  public:
    std::unique_lock<std::mutex> Take(int printerId) {
        std::mutex* turn = nullptr;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            std::unique_ptr<std::mutex>& slot = turns_[printerId];
            if (!slot) slot = std::make_unique<std::mutex>();
            turn = slot.get();
        }
        return std::unique_lock<std::mutex>(*turn);
    }

    std::optional<bool> Outcome(int printerId, int jobId) {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto found = outcomes_.find({printerId, jobId});
        if (found == outcomes_.end()) return std::nullopt;
        return found->second;
    }

    void Record(int printerId, int jobId, bool printed) {
        const std::lock_guard<std::mutex> guard(lock_);
        if (!outcomes_.insert_or_assign({printerId, jobId}, printed).second) return;
        recorded_.push_back({printerId, jobId});
        // A job printed ahead is started within moments, and a job started
        // twice is started again within moments: the oldest outcomes can go.
        if (recorded_.size() > kRemembered) {
            outcomes_.erase(recorded_.front());
            recorded_.pop_front();
        }
    }

  private:
    static constexpr std::size_t kRemembered = 4096;
    std::mutex lock_;
    std::map<int, std::unique_ptr<std::mutex>> turns_;
    std::map<std::pair<int, int>, bool> outcomes_;  // printer and job ids
    std::deque<std::pair<int, int>> recorded_;      // the same, oldest first
};

PrinterTurns& Turns() {
    static PrinterTurns turns;
    return turns;
}

// A job that waits to print: released, with its document in, and not
// started or started but not yet at its turn (nothing prints but in a
// turn, and a job that printed has its outcome recorded).
struct WaitingJob {
    pappl_job_t* job;
    int id;
};

bool IsWaiting(pappl_job_t* job) {
    const ipp_jstate_t state = papplJobGetState(job);
    return (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING) &&
           !papplJobIsCanceled(job) && papplJobGetFilename(job) != nullptr;
}

void CollectWaiting(pappl_job_t* job, void* data) {
    if (IsWaiting(job))
        static_cast<std::vector<WaitingJob>*>(data)->push_back({job, papplJobGetID(job)});
}

// Prints the documents of the jobs older than `before` waiting on the
// printer, oldest first, on `device`.
void PrintWaitingJobs(pappl_printer_t* printer, int before, pappl_device_t* device,
                      DocumentPrinter printWaiting) {
    std::vector<WaitingJob> waiting;
    papplPrinterIterateActiveJobs(printer, CollectWaiting, &waiting, 1, 0);
    std::sort(waiting.begin(), waiting.end(),
              [](const WaitingJob& a, const WaitingJob& b) { return a.id < b.id; });
    const int printerId = papplPrinterGetID(printer);
    for (const WaitingJob& older : waiting) {
        if (older.id >= before) break;
        if (Turns().Outcome(printerId, older.id)) continue;
        // A user may have held or canceled it since.
        if (!IsWaiting(older.job)) continue;
        const std::optional<bool> printed = printWaiting(older.job, device);
        if (!printed) continue;
        papplLogJob(older.job, PAPPL_LOGLEVEL_INFO,
                    "printed before job %d, which was started first: jobs print in the order "
                    "they came",
                    before);
        Turns().Record(printerId, older.id, *printed);
    }
}

}  // namespace

std::unique_ptr<JobTurn> TakeTurn(pappl_job_t* job, pappl_device_t* device,
                                  DocumentPrinter printWaiting) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const int printerId = papplPrinterGetID(printer);
    const int id = papplJobGetID(job);
    std::unique_lock<std::mutex> hold = Turns().Take(printerId);
    const std::optional<bool> before = Turns().Outcome(printerId, id);
    if (!before) PrintWaitingJobs(printer, id, device, printWaiting);
    return std::unique_ptr<JobTurn>(new JobTurn(job, std::move(hold), before));
}

bool JobTurn::Record(bool printed) {
    if (!printedBefore_) {
        Turns().Record(papplPrinterGetID(papplJobGetPrinter(job_)), papplJobGetID(job_), printed);
        recorded_ = true;
    }
    return printed;
}

JobTurn::~JobTurn() {
    if (!printedBefore_ && !recorded_) Record(false);
}

}  // namespace qlpr::ipp
