// Each printer prints its jobs one at a time, in the order they came.
//
// PAPPL 1.3 gets both wrong under load: it starts the newest of the jobs
// waiting on a printer first, and it marks a job as printing only once the
// job's thread runs, so a job submitted in that moment has a second job,
// or the same one again, started beside it. Three things keep the order:
//
//  - a job that arrives while its printer has other jobs is held (as
//    job-hold-until "indefinite", state reason job-hold-until-specified)
//    while its document comes in; a job arriving at an idle printer starts
//    at once, untouched;
//  - when a job's work is done, the oldest job waiting on its printer is
//    released as the next one (every other pending job is held), and a
//    timer of the system releases the next job of a printer that has
//    nothing pending or printing, after a job that failed before its work;
//  - jobs started side by side take their turns in the order they came,
//    and a job started twice prints once.
//
// Jobs a user holds stay as the user left them; a user may also release a
// job that waits its turn, which then prints as soon as the printer is
// free. Raster that a client streams goes through PAPPL as it comes, when
// the printer is free, outside the line.
#pragma once

#include <pappl/pappl.h>

#include <memory>

namespace qlpr::ipp {

// Puts the system's jobs in line from now on (its event callback and a
// timer).
void KeepJobOrder(pappl_system_t* system);

// A job's turn at its printer, held while the job prints.
class JobTurn {
  public:
    ~JobTurn();  // passes the turn on to the printer's next job
    JobTurn(const JobTurn&) = delete;
    JobTurn& operator=(const JobTurn&) = delete;

    // The job had a turn before (PAPPL started it twice): it prints
    // nothing this time.
    bool repeated() const { return repeated_; }

  private:
    friend std::unique_ptr<JobTurn> TakeTurn(pappl_job_t* job);
    JobTurn(pappl_job_t* job, bool repeated) : job_(job), repeated_(repeated) {}
    pappl_job_t* job_;
    bool repeated_;
};

// Waits for the job's turn at its printer; call when its work begins.
std::unique_ptr<JobTurn> TakeTurn(pappl_job_t* job);

}  // namespace qlpr::ipp
