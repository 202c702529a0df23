#include "ipp/job_order.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace qlpr::ipp {
namespace {

// A job of a printer's line, as it stood when the line was looked at.
struct LineEntry {
    pappl_job_t* job;
    int id;
    ipp_jstate_t state;
    bool hasDocument;  // a job whose document has not come yet cannot start
};

// The jobs held here for their turn (printer and job ids). A job leaves
// the set when it is released, or when its state shows that someone else
// moved it on (a user's release, a cancel).
class WaitingJobs {
  public:
    // Lines up the active jobs of `printer`. `ending` is the id of the job
    // whose work is done (0 when none): the oldest pending or waiting job
    // is next; with `holdOthers` every other pending job waits its turn.
    // Returns the next job's id, 0 for none.
    int Arrange(pappl_printer_t* printer, int ending, bool holdOthers) {
        std::vector<LineEntry> line;
        papplPrinterIterateActiveJobs(printer, Collect, &line, 1, 0);
        std::sort(line.begin(), line.end(),
                  [](const LineEntry& a, const LineEntry& b) { return a.id < b.id; });

        const int printerId = papplPrinterGetID(printer);
        const std::lock_guard<std::mutex> guard(lock_);
        Forget(printerId, line);
        const auto isOurs = [&](const LineEntry& entry) {
            return entry.state == IPP_JSTATE_HELD && held_.count({printerId, entry.id}) != 0;
        };
        const LineEntry* next = nullptr;
        bool othersPending = false;  // PAPPL would start the newest of them first
        for (const LineEntry& entry : line) {
            if (entry.id == ending) continue;
            const bool candidate =
                entry.state == IPP_JSTATE_PENDING || (isOurs(entry) && entry.hasDocument);
            if (candidate && next == nullptr) {
                next = &entry;
            } else if (entry.state == IPP_JSTATE_PENDING) {
                if (holdOthers && papplJobHold(entry.job, nullptr, "indefinite", 0))
                    held_.insert({printerId, entry.id});
                else
                    othersPending = true;
            }
        }
        if (next == nullptr) return 0;
        if (isOurs(*next) && !othersPending) {
            papplJobRelease(next->job, nullptr);
            held_.erase({printerId, next->id});
        }
        return next->id;
    }

    // A job created while its printer has others: held before its document
    // is in, unless its client holds it already.
    void HoldArrival(pappl_job_t* job) {
        if (papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) return;
        if (!papplJobHold(job, nullptr, "indefinite", 0)) return;
        const std::lock_guard<std::mutex> guard(lock_);
        held_.insert({papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)});
    }

  private:
    static void Collect(pappl_job_t* job, void* data) {
        static_cast<std::vector<LineEntry>*>(data)->push_back(
            {job, papplJobGetID(job), papplJobGetState(job), papplJobGetFilename(job) != nullptr});
    }

    // Drops the printer's jobs that have started or ended since they were
    // held. The line may be older than a hold: a job seen as pending, or
    // newer than every job of the line, may have been held since.
    void Forget(int printerId, const std::vector<LineEntry>& line) {
        const int newest = line.empty() ? 0 : line.back().id;
        for (auto it = held_.lower_bound({printerId, 0});
             it != held_.end() && it->first == printerId;) {
            const auto found = std::find_if(line.begin(), line.end(),
                                            [&](const LineEntry& e) { return e.id == it->second; });
            const bool ended = found == line.end() && it->second < newest;
            if (ended || (found != line.end() && found->state >= IPP_JSTATE_PROCESSING))
                it = held_.erase(it);
            else
                ++it;
        }
    }

    std::mutex lock_;
    std::set<std::pair<int, int>> held_;
};

WaitingJobs& Waiting() {
    static WaitingJobs waiting;
    return waiting;
}

// Who prints now on each printer. A job's thread takes the turn when its
// work begins and passes it on when done.
class Turns {
  public:
    // Returns whether the job had a turn before.
    bool Take(pappl_job_t* job) {
        const int printerId = papplPrinterGetID(papplJobGetPrinter(job));
        const int id = papplJobGetID(job);
        std::unique_lock<std::mutex> hold(lock_);
        Printer& printer = printers_[printerId];
        if (started_.count({printerId, id}) != 0 || printer.starting.count(id) != 0) {
            WaitOutRepeat(hold, printer, id);
            return true;
        }
        printer.starting.insert(id);
        // Of the jobs started side by side, the oldest goes first; the job
        // released as next may be a moment behind a newer one, which then
        // waits for it a little.
        const auto deadline = std::chrono::steady_clock::now() + kNextJobWait;
        for (;;) {
            if (printer.current != 0 || *printer.starting.begin() != id) {
                changed_.wait(hold);
                continue;
            }
            const bool nextComing = printer.expectedNext != 0 && printer.expectedNext < id &&
                                    started_.count({printerId, printer.expectedNext}) == 0;
            if (!nextComing || changed_.wait_until(hold, deadline) == std::cv_status::timeout)
                break;
        }
        printer.starting.erase(id);
        printer.current = id;
        printer.expectedNext = 0;
        ++printer.turnsTaken;
        started_.insert({printerId, id});
        // A job started twice is started again within moments: the oldest
        // entries can go.
        if (started_.size() > kRemembered) started_.erase(started_.begin());
        return false;
    }

    // The job's work is done; `next` is the job released to follow it.
    void Pass(pappl_job_t* job, int next) {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            Printer& printer = printers_[papplPrinterGetID(papplJobGetPrinter(job))];
            printer.current = 0;
            printer.expectedNext = next;
        }
        changed_.notify_all();
    }

  private:
    struct Printer {
        int current = 0;         // the job printing
        int expectedNext = 0;    // the job released to print next
        std::set<int> starting;  // jobs started, waiting for their turn
        std::uint64_t turnsTaken = 0;
    };

    // A second start of job `id`: the first one prints it. PAPPL ends every
    // start as if it were the job printing and marks the printer as free,
    // which would let it start jobs beside the next one: this start ends
    // when the printer is idle, or when nothing has moved on the printer
    // for a while after the job (PAPPL may then take this start for the
    // job printing and wait for it to end).
    void WaitOutRepeat(std::unique_lock<std::mutex>& hold, Printer& printer, int id) {
        std::uint64_t seen = printer.turnsTaken;
        for (;;) {
            const bool jobDone = printer.current != id && printer.starting.count(id) == 0;
            const bool idle =
                printer.current == 0 && printer.starting.empty() && printer.expectedNext == 0;
            if (jobDone && idle) return;
            if (changed_.wait_for(hold, kStalled) == std::cv_status::timeout) {
                if (jobDone && printer.turnsTaken == seen) return;
                seen = printer.turnsTaken;
            }
        }
    }

    static constexpr std::chrono::milliseconds kNextJobWait{100};
    static constexpr std::chrono::seconds kStalled{1};
    static constexpr std::size_t kRemembered = 4096;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<int, Printer> printers_;
    std::set<std::pair<int, int>> started_;  // printer and job ids
};

Turns& PrinterTurns() {
    static Turns turns;
    return turns;
}

// PAPPL tells of a new job under the job's lock, where the job cannot be
// held: a thread of its own holds it as soon as the lock is let go, before
// the job's document is in. The event waits (a moment at most) until that
// thread has the job in hand.
//
// The same thread releases, once a second, the next job of a printer that
// has nothing pending or printing (after a job that failed before its
// work, or one whose document came in after the printer's last job
// ended). The system's timer only wakes it: timers run under the system's
// lock, where taking a printer's could deadlock.
class Arrivals {
  public:
    explicit Arrivals(pappl_system_t* system) : system_(system) {
        std::thread(&Arrivals::Run, this).detach();
    }

    static void OnEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job,
                        pappl_event_t event, void* data) {
        auto* arrivals = static_cast<Arrivals*>(data);
        // A job alone on its printer starts at once.
        if (!(event & PAPPL_EVENT_JOB_CREATED) || job == nullptr) return;
        arrivals->Seen(papplPrinterGetID(printer));
        if (papplPrinterGetNumberOfActiveJobs(printer) >= 2) arrivals->Hand(job);
    }

    static bool OnTimer(pappl_system_t*, void* data) {
        auto* arrivals = static_cast<Arrivals*>(data);
        {
            const std::lock_guard<std::mutex> guard(arrivals->lock_);
            arrivals->releaseDue_ = true;
        }
        arrivals->wake_.notify_all();
        return true;
    }

  private:
    static constexpr std::chrono::milliseconds kHandOverWait{5};

    void Seen(int printerId) {
        const std::lock_guard<std::mutex> guard(lock_);
        printers_.insert(printerId);
    }

    void Hand(pappl_job_t* job) {
        std::unique_lock<std::mutex> hold(lock_);
        queue_.push_back(job);
        const std::uint64_t ticket = ++handed_;
        wake_.notify_all();
        wake_.wait_for(hold, kHandOverWait, [&] { return taken_ >= ticket; });
    }

    void Run() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [this] { return !queue_.empty() || releaseDue_; });
            if (!queue_.empty()) {
                pappl_job_t* job = queue_.front();
                queue_.pop_front();
                ++taken_;
                wake_.notify_all();
                hold.unlock();
                Waiting().HoldArrival(job);
                hold.lock();
                continue;
            }
            releaseDue_ = false;
            const std::set<int> printers = printers_;
            hold.unlock();
            for (int printerId : printers) {
                pappl_printer_t* printer =
                    papplSystemFindPrinter(system_, nullptr, printerId, nullptr);
                if (printer != nullptr) Waiting().Arrange(printer, 0, false);
            }
            hold.lock();
        }
    }

    pappl_system_t* system_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<pappl_job_t*> queue_;
    std::uint64_t handed_ = 0;  // jobs handed to the thread
    std::uint64_t taken_ = 0;   // of them, those it has in hand
    std::set<int> printers_;    // the printers that had jobs
    bool releaseDue_ = false;
};

}  // namespace

void KeepJobOrder(pappl_system_t* system) {
    // Lives as long as the process: its thread waits for jobs to come.
    auto* arrivals = new Arrivals(system);
    papplSystemSetEventCallback(system, Arrivals::OnEvent, arrivals);
    papplSystemAddTimerCallback(system, 0, 1, Arrivals::OnTimer, arrivals);
}

std::unique_ptr<JobTurn> TakeTurn(pappl_job_t* job) {
    const bool repeated = PrinterTurns().Take(job);
    return std::unique_ptr<JobTurn>(new JobTurn(job, repeated));
}

JobTurn::~JobTurn() {
    if (repeated_) return;
    PrinterTurns().Pass(job_,
                        Waiting().Arrange(papplJobGetPrinter(job_), papplJobGetID(job_), true));
}

}  // namespace qlpr::ipp
