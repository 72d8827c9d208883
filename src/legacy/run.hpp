// The run's internals: the report files and their writers, the input lock and the search's
// parameters of a run (what the commands use of it is legacy/program.hpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/io/text_input.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/search/search.hpp"
#include "core/time/eop.hpp"
#include "core/time/time_text.hpp"
#include "legacy/program.hpp"
#include "legacy/reports.hpp"
#include "legacy/routines.hpp"
#include "orvus/search.hpp"
#include "orvus/vek_p1.h"
#include "orvus/version.hpp"
#include "outputs/safe_output.hpp"

namespace orvus {

// The three reports of a run, written under temporary names in the working directory and
// put in place of the earlier reports only when the run has written them completely (or
// stopped on a fatal error during the search). Until then an interruption (SIGINT, SIGTERM,
// SIGHUP) or a failure removes the temporary files and leaves the earlier reports as they
// were. One object at a time.
class ReportSet {
 public:
  ReportSet();
  ~ReportSet();
  ReportSet(const ReportSet&) = delete;
  ReportSet& operator=(const ReportSet&) = delete;

  // Creates the temporary files. Raises Fatal naming a report that cannot be created.
  void create();
  [[nodiscard]] const ReportFiles& files() const { return files_; }
  // Flushes and closes the temporary files, checking every write, and renames them over the
  // reports. Raises Fatal naming the file on a write error, leaving the earlier reports.
  void commit();

 private:
  void discard() noexcept;
  ReportFiles files_;
  bool live_ = false;
  // Removes the temporaries on SIGINT, SIGTERM and SIGHUP; SIGXFSZ ignored meanwhile.
  std::unique_ptr<io::StopCleanup> cleanup_;
};

// Removes temporary report files that a run killed outright left behind. Only while the
// input file is locked (no other run can be writing them).
void remove_stale_report_files();

// An exclusive lock on the input file for the whole run: a second run in the same directory
// stops at once instead of mixing its reports with this one's.
class InputLock {
 public:
  explicit InputLock(const char* file);

 private:
  io::ExclusiveLock lock_;
};

// Current local wall-clock time in seconds, counted through a day number so that it runs
// on across midnight and month ends.
void TIMER2(double& t);

// The search's parameters of a run.
SearchParams to_search_params(const RunParams& p);

// Reads records 1 to 9 of the input file and derives the box, the UTC interval and the
// names' lengths. Raises Fatal naming the file, the record and the line on bad input.
void read_run_params(TextInput& in, RunParams& p);

}  // namespace orvus
