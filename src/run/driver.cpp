// The main program: reads the input file, converts the box and the interval, writes the
// report headers, sets up the orbit, runs the contact search and reports the execution time.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/fatal.hpp"
#include "common/fixed_field.hpp"
#include "common/free_form.hpp"
#include "geometry/coords.hpp"
#include "geometry/off_nadir.hpp"
#include "orbit/setup.hpp"
#include "run/run.hpp"
#include "run/search.hpp"

namespace orvus {

namespace {

// The smallest step that still advances the seconds of the day at every time of day.
constexpr double kMinStep = 1.0e-6;  // s

std::string text_record(TextInput& in, std::size_t width, const std::string& record) {
  std::string line;
  if (!read_line(in, line)) {
    ++in.line;
    record_error(in, record, "END OF FILE: THE RECORD IS MISSING.");
  }
  return fixed_record(line, width);
}

std::string number_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Geodetic corner (degrees) to geocentric longitude and latitude (degrees).
void corner_to_geocentric(double lon, double lat, double& gc_lon, double& gc_lat) {
  // 90 deg times the factor is a little more than pi/2: a corner at a pole would come back
  // turned by 180 deg of longitude. The latitude is held to [-pi/2, pi/2].
  constexpr double kHalfPi = 1.5707963267948966;
  Vec3 c{};
  GDGCP_IAU2009({lon * kDegToRadRun, std::clamp(lat * kDegToRadRun, -kHalfPi, kHalfPi), 0.0}, c);
  Vec3 s{};
  GCGSP(c, s);
  gc_lon = s[0] * kRadToDegRun;
  gc_lat = s[1] * kRadToDegRun;
  // The conversion keeps the longitude but returns it in (-180, 180]: a corner at 180 E
  // could come back as -180 and a corner past 180 wrapped, leaving a box that holds nothing.
  // Put back the whole turns it lost.
  gc_lon += 360.0 * std::round((lon - gc_lon) / 360.0);
}

// Local date-time text to UTC day number and seconds, and the UTC text.
void local_to_utc(TextInput& in, const std::string& local, double utc_diff, double& day,
                  double& seconds, DateText& utc) {
  double d = 0.0;
  double s = 0.0;
  INSTDJM3(local, d, s, FieldSource{in.name, in.line});
  day = d;
  seconds = s - utc_diff * 3600.0;
  correct_day(day, seconds);
  INSTHOR3(day, seconds, utc);
}

FilePtr open_report(const char* name) {
  FilePtr f(std::fopen(name, "w"));
  if (!f) {
    throw Fatal{std::string(" CANNOT CREATE THE REPORT FILE \"") + name + "\".",
                " EXECUTION INTERRUPTED."};
  }
  return f;
}

std::int16_t trimmed_length(const std::string& s) {
  const auto last = s.find_last_not_of(' ');
  return static_cast<std::int16_t>(last == std::string::npos ? 0 : last + 1);
}

// How the search runs, from the environment: ORVUS_SEARCH=plain computes every step;
// ORVUS_THREADS sets the threads of the screened search (default: the hardware's).
struct SearchSettings {
  bool plain = false;
  int threads = 1;
};

SearchSettings search_settings() {
  SearchSettings s;
  const char* mode = std::getenv("ORVUS_SEARCH");
  if (mode != nullptr && *mode != '\0') {
    const std::string m = mode;
    if (m == "plain") {
      s.plain = true;
    } else if (m != "screened") {
      throw Fatal{" ORVUS_SEARCH MUST BE \"plain\" OR \"screened\" (GIVEN: \"" + m + "\").",
                  " EXECUTION INTERRUPTED."};
    }
  }
  const unsigned hw = std::thread::hardware_concurrency();
  s.threads = hw == 0 ? 1 : static_cast<int>(std::min(hw, 64U));
  const char* threads = std::getenv("ORVUS_THREADS");
  if (threads != nullptr && *threads != '\0') {
    const std::string t = threads;
    int n = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), n);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size() || n < 1 || n > 256) {
      throw Fatal{" ORVUS_THREADS MUST BE A WHOLE NUMBER FROM 1 TO 256 (GIVEN: \"" + t + "\").",
                  " EXECUTION INTERRUPTED."};
    }
    s.threads = n;
  }
  return s;
}

}  // namespace

void read_run_params(TextInput& in, RunParams& p) {
  p.SAT_NAME = text_record(in, 50, "RECORD 1 (SATELLITE NAME)");
  p.LOC_NAME = text_record(in, 70, "RECORD 2 (LOCATION NAME)");
  {
    std::array<double, 1> v{};
    read_free_form(in, v, "RECORD 3 (UTC_DIFF)");
    p.UTC_DIFF = v[0];
    // Local and UTC times are brought back into the day by one correction of one day.
    if (!(std::fabs(p.UTC_DIFF) <= 24.0)) {
      record_error(in, "RECORD 3 (UTC_DIFF)",
                   "THE TIME DIFFERENCE FROM UTC MUST LIE BETWEEN -24 AND 24 HOURS (GIVEN: " +
                       number_text(p.UTC_DIFF) + ").");
    }
  }
  {
    std::array<double, 4> v{};
    read_free_form(in, v, "RECORD 4 (LON1, LON2, LAT1, LAT2)");
    p.LON1 = v[0];
    p.LON2 = v[1];
    p.LAT1 = v[2];
    p.LAT2 = v[3];
    if (!(std::fabs(p.LAT1) <= 90.0 && std::fabs(p.LAT2) <= 90.0 && std::fabs(p.LON1) <= 360.0 &&
          std::fabs(p.LON2) <= 360.0)) {
      record_error(in, "RECORD 4 (LON1, LON2, LAT1, LAT2)",
                   "LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND LONGITUDES BETWEEN -360 "
                   "AND 360 DEGREES.");
    }
  }
  p.TLE_FILE = text_record(in, 70, "RECORD 5 (TLE FILE NAME)");
  {
    std::array<double, 2> v{};
    read_free_form(in, v, "RECORD 6 (ALPHA, BETA)");
    p.ALPHA = v[0];
    p.BETA = v[1];
    const double lo = p.ALPHA - p.BETA / 2.0;
    const double hi = p.ALPHA + p.BETA / 2.0;
    if (!(lo > -90.0 && lo < 90.0 && hi > -90.0 && hi < 90.0)) {
      record_error(in, "RECORD 6 (ALPHA, BETA)",
                   "ALPHA - BETA/2 AND ALPHA + BETA/2 MUST LIE STRICTLY BETWEEN -90 AND 90 "
                   "DEGREES (GIVEN: " +
                       number_text(lo) + " AND " + number_text(hi) + ").");
    }
  }

  corner_to_geocentric(p.LON1, p.LAT1, p.GC_LON1, p.GC_LAT1);
  corner_to_geocentric(p.LON2, p.LAT2, p.GC_LON2, p.GC_LAT2);

  p.START_LOCAL = text_record(in, 29, "RECORD 7 (LOCAL START)");
  local_to_utc(in, p.START_LOCAL, p.UTC_DIFF, p.START_DAY, p.START_SEC, p.START_UTC);
  p.END_LOCAL = text_record(in, 29, "RECORD 8 (LOCAL END)");
  local_to_utc(in, p.END_LOCAL, p.UTC_DIFF, p.END_DAY, p.END_SEC, p.END_UTC);
  {
    std::array<double, 1> v{};
    read_free_form(in, v, "RECORD 9 (STEP)");
    p.STEP = v[0];
    if (!(p.STEP >= kMinStep && p.STEP <= 86400.0)) {
      record_error(in, "RECORD 9 (STEP)",
                   "THE TIME STEP MUST BE POSITIVE (AT LEAST 1E-6 S) AND AT MOST 86400 S "
                   "(GIVEN: " +
                       number_text(p.STEP) + ").");
    }
  }

  p.CEN_GC_LON = (p.GC_LON1 + p.GC_LON2) / 2.0;
  p.CEN_GC_LAT = (p.GC_LAT1 + p.GC_LAT2) / 2.0;
  p.CEN_LON = (p.LON1 + p.LON2) / 2.0;
  p.CEN_LAT = (p.LAT1 + p.LAT2) / 2.0;
  p.SAT_LEN = trimmed_length(p.SAT_NAME);
  p.LOC_LEN = trimmed_length(p.LOC_NAME);
}

void ORVUS() {
  double start_clock = 0.0;
  TIMER2(start_clock);

  TextInput in;
  if (!open_text(in, kInputFile)) {
    throw Fatal{
        std::string(" CANNOT OPEN THE INPUT FILE \"") + kInputFile + "\" IN THE WORKING DIRECTORY.",
        " EXECUTION INTERRUPTED."};
  }
  ReportFiles files;
  files.out1 = open_report(kOut1File);
  files.out2 = open_report(kOut2File);
  files.out3 = open_report(kOut3File);

  const SearchSettings settings = search_settings();
  IersTable table;
  READ_IERS_DATA(table);

  RunParams p;
  read_run_params(in, p);

  write_headers(files, p);
  std::printf("  CREATING ORVUS v1.13 REPORTS - PLEASE WAIT..\n");
  std::fflush(stdout);

  Orbit orbit;
  VEK_P1(p.TLE_FILE, p.SAT_NAME, orbit.elset, orbit.A_MEAN, orbit.P_NODAL, orbit.FRAC0, orbit.earth,
         orbit.sgp8_a, orbit.sgp8_b);
  warn_element_age(orbit.elset, p.START_DAY, p.START_SEC, p.END_DAY, p.END_SEC);

  p.ALPHA0 = p.ALPHA;
  p.ALPHA1 = p.ALPHA - p.BETA / 2.0;
  p.ALPHA2 = p.ALPHA + p.BETA / 2.0;
  if (settings.plain) {
    contact_search(p, orbit, table, files);
  } else {
    screened_search(p, orbit, table, files, settings.threads);
  }

  std::printf("  ORVUS v1.13 REPORTS CREATED..\n");
  double end_clock = 0.0;
  TIMER2(end_clock);
  const double exec_time = end_clock - start_clock;
  write_execution_time(files.out1.get(), exec_time);
  write_console_execution_time(exec_time);
  std::fflush(stdout);
}

}  // namespace orvus
