// Each printer prints its jobs one at a time, in the order they came.
//
// PAPPL 1.3 gets both wrong under load: it starts the newest of the jobs
// waiting on a printer first, and it marks a job as printing only once the
// job's thread runs, so a job submitted in that moment has a second job,
// or the same one again, started beside it. So:
//
//  - a printer's jobs take turns: a job started beside another waits for
//    the other to end;
//  - whichever job has the turn first prints the documents of the older
//    jobs waiting on its printer (released, their documents in), oldest
//    first and each as its own job would, then its own; such a job ends at
//    once when PAPPL starts it, with the outcome of its printing;
//  - a job started twice prints once.
//
// Jobs a user holds, and jobs whose documents are still coming in, are not
// waiting: they print when PAPPL starts them.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <mutex>
#include <optional>

namespace qlpr::ipp {

// Prints a waiting job's document to the device of the job whose turn it
// is; false when the job fails (its state message and reasons set).
// Returns nullopt for a document that can only print in its own job.
using DocumentPrinter = std::optional<bool> (*)(pappl_job_t* job, pappl_device_t* device);

// A job's turn at its printer, held while the job prints.
class JobTurn {
  public:
    ~JobTurn();  // a job whose outcome was not recorded counts as failed
    JobTurn(const JobTurn&) = delete;
    JobTurn& operator=(const JobTurn&) = delete;

    // The outcome of the job's printing when it printed before this start
    // (started twice, or printed ahead by a newer job); nullopt when the
    // job prints now.
    std::optional<bool> printedBefore() const { return printedBefore_; }

    // The job printed now, with this outcome; returns it.
    bool Record(bool printed);

  private:
    friend std::unique_ptr<JobTurn> TakeTurn(pappl_job_t*, pappl_device_t*, DocumentPrinter);
    JobTurn(pappl_job_t* job, std::unique_lock<std::mutex> hold, std::optional<bool> printedBefore)
        : job_(job), hold_(std::move(hold)), printedBefore_(printedBefore) {}
    pappl_job_t* job_;
    std::unique_lock<std::mutex> hold_;
    std::optional<bool> printedBefore_;
    bool recorded_ = false;
};

// Waits for the job's turn at its printer; unless the job printed before,
// prints the older jobs waiting there first, through `printWaiting` on
// `device`.
std::unique_ptr<JobTurn> TakeTurn(pappl_job_t* job, pappl_device_t* device,
                                  DocumentPrinter printWaiting);

}  // namespace qlpr::ipp
