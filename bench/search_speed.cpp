// Timed comparison of the plain and the screened contact search on the real data:
// 1 day, 1 week and 30 days at 1 s (the plain search sampled on one day for the long
// ones), a year at 1 s screened, and the peak memory of each run, each in its own process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/contacts/screened.hpp"
#include "core/orbit/model.hpp"
#include "core/search/search.hpp"
#include "core/time/eop.hpp"
#include "legacy/routines.hpp"
#include "legacy/run.hpp"
#include "orvus/elements.hpp"

namespace {

using namespace orvus;

struct Result {
  double seconds = 0;
  long max_rss_kb = 0;
};

// Runs one search of `days` days at 1 s in a child process; its time and peak memory.
Result run_case(double days, bool plain, int threads) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string data = ORVUS_TEST_DATA;
    const Propagator orbit(read_element_file(data + "/tle/landsat8_2024.tle").at(0));
    EopRows table;
    load_eop_file(table, data + "/finals2000A.data");
    SearchParams p;
    p.utc_diff = -3.0;
    p.lon1 = -48.3;
    p.lon2 = -47.3;
    p.lat1 = -16.1;
    p.lat2 = -15.4;
    p.alpha = 0.0;
    p.beta = 30.0;
    derive_search_values(p);
    p.step = 1.0;
    p.start_day = orbit.elements().epoch.day;
    p.start_sec = 0.0;
    p.end_day = p.start_day + days;
    p.end_sec = 0.0;
    ReportFiles files;
    files.out1.reset(std::fopen("/dev/null", "w"));
    files.out2.reset(std::fopen("/dev/null", "w"));
    files.out3.reset(std::fopen("/dev/null", "w"));
    ReportSink sink(files);
    const auto t0 = std::chrono::steady_clock::now();
    if (plain)
      contact_search(p, orbit, table, sink);
    else
      screened_search(p, orbit, table, sink, threads);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const ssize_t n = write(fds[1], &s, sizeof s);
    _exit(n == sizeof s ? 0 : 1);
  }
  close(fds[1]);
  Result r;
  if (read(fds[0], &r.seconds, sizeof r.seconds) != sizeof r.seconds) r.seconds = -1;
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.max_rss_kb = usage.ru_maxrss;
  return r;
}

}  // namespace

int main() {
  const int threads = 2;
  std::printf("Landsat 8, a 1 x 0.7 deg box, ALPHA 0, BETA 30, steps of 1 s, %d threads\n\n",
              threads);
  const Result plain_day = run_case(1, true, 1);
  std::printf("%-10s %14s %14s %9s %12s\n", "interval", "plain s", "screened s", "ratio",
              "peak MB");
  for (double days : {1.0, 7.0, 30.0}) {
    const Result screened = run_case(days, false, threads);
    const double plain = days == 1 ? plain_day.seconds : plain_day.seconds * days;
    std::printf("%-10s %13.3f%s %14.3f %9.0f %12.1f\n",
                days == 1 ? "1 day" : (days == 7 ? "1 week" : "30 days"), plain,
                days == 1 ? " " : "*", screened.seconds, plain / screened.seconds,
                screened.max_rss_kb / 1024.0);
  }
  const Result year = run_case(365, false, threads);
  const Result year1 = run_case(365, false, 1);
  std::printf("%-10s %13.3f* %14.3f %9.0f %12.1f\n", "1 year", plain_day.seconds * 365,
              year.seconds, plain_day.seconds * 365 / year.seconds, year.max_rss_kb / 1024.0);
  std::printf("%-10s %14s %14.3f %9s %12.1f\n", "1 year, 1t", "", year1.seconds, "",
              year1.max_rss_kb / 1024.0);
  std::printf("\n* plain time of the 1-day run times the number of days\n");
  std::printf("plain 1 day: peak %.1f MB\n", plain_day.max_rss_kb / 1024.0);
  return 0;
}
