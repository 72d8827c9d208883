// The three reports' writers, and the reports as a contact sink: what a run of the program
// and a planner's pair (plan_reports.cpp) write with. Only public headers of the library are
// included here.
#pragma once

#include <cstdint>
#include <cstdio>

#include "legacy/program.hpp"
#include "orvus/search.hpp"
#include "orvus/time.hpp"

namespace orvus {

// Raises Fatal naming the first named report whose stream has met a write error.
void check_report_streams(const ReportFiles& files);

// Report writers.
void write_headers(const ReportFiles& files, const RunParams& p);
void write_contact_heading(std::FILE* out1, std::int32_t ncontact);
void write_step_line(std::FILE* out1, const DateText& local, const double (&gd)[6]);
void write_best_alpha(std::FILE* out1, double best_alpha, const DateText& best, double best_lon,
                      double best_lat);
void write_summary(std::FILE* out, std::int32_t ncontact, const DateText& start,
                   const DateText& end, double duration, const DateText& best, double best_alpha,
                   double mindist, char pass);
void write_execution_time(std::FILE* out1, double exec_time);
void write_console_execution_time(double exec_time);

// The three reports as a contact sink: a heading and a line per in-box step in OUT1, and
// at the end of each contact its BEST ALPHA line and its summary rows.
class ReportSink : public ContactSink {
 public:
  explicit ReportSink(const ReportFiles& files) : files_(files) {}
  void contact_start(int number, const ContactStep& first) override;
  void contact_step(int number, const ContactStep& step) override;
  void contact_end(const Contact& contact) override;
  void open_at_end(int /*number*/) override {}

 private:
  const ReportFiles& files_;
};

}  // namespace orvus
