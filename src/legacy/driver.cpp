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

#include "core/contacts/screened.hpp"
#include "core/elements/elements_internal.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/io/fixed_field.hpp"
#include "core/io/text.hpp"
#include "core/io/text_input.hpp"
#include "core/orbit/model.hpp"
#include "core/search/search.hpp"
#include "legacy/fatal.hpp"
#include "legacy/run.hpp"
#include "orvus/elements.hpp"
#include "orvus/threads.hpp"

namespace orvus {

namespace {

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

// Local date-time text to UTC day number and seconds, and the UTC text.
void local_to_utc(TextInput& in, const std::string& local, double utc_diff, double& day,
                  double& seconds, DateText& utc) {
  double d = 0.0;
  double s = 0.0;
  INSTDJM3(local, d, s, FieldSource{in.name, in.line});
  day = d;
  seconds = s - utc_diff * 3600.0;
  normalise(day, seconds);
  INSTHOR3(day, seconds, utc);
}

std::int16_t trimmed_length(const std::string& s) {
  return static_cast<std::int16_t>(trim_blanks(s).size());
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
  s.threads = orvus::machine_threads();
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

std::string trimmed(std::string_view field) {
  return std::string(trim_blanks(field));
}

// The element set of the run: in a file of several, the one named as record 1 (trimmed, any
// case), else the first; which one is said on standard error.
ElementSet run_elements(const RunParams& p) {
  const std::string file = trimmed(std::string_view(p.TLE_FILE).substr(0, 70));
  std::vector<ElementSet> sets;
  try {
    sets = read_element_file(file);
  } catch (const Error& error) {
    throw program_error(error);
  }
  const std::string satellite = trimmed(p.SAT_NAME);
  const auto i = find_element_set(sets, satellite);
  const std::size_t chosen = i >= 0 ? static_cast<std::size_t>(i) : 0;
  if (sets.size() > 1) {
    const ElementSet& s = sets[chosen];
    std::fprintf(
        stderr,
        " ORVUS: THE ELEMENT FILE \"%s\" HOLDS %zu SETS: USING SET %zu (\"%s\", "
        "CATALOGUE NUMBER %lld), %s.\n",
        elements::printable(file, 200).c_str(), sets.size(), chosen + 1,
        elements::printable(s.name).c_str(), static_cast<long long>(s.catalogue_number),
        i >= 0 ? "WHOSE NAME IS THAT OF RECORD 1"
               : ("THE FIRST: NONE IS NAMED \"" + elements::printable(satellite) + "\" AS RECORD 1")
                     .c_str());
  }
  return std::move(sets[chosen]);
}

// Mean elements degrade by kilometres a day away from their epoch: a warning past 14 days.
void warn_element_age(const ElementSet& elements, const RunParams& p) {
  if (since_epoch(UtcInstant{p.START_DAY, p.START_SEC}, p.END_DAY, p.END_SEC) < 0.0) return;
  const double days = std::max(std::fabs(element_age_days(elements, {p.START_DAY, p.START_SEC})),
                               std::fabs(element_age_days(elements, {p.END_DAY, p.END_SEC})));
  if (!(days > 14.0)) return;
  std::fprintf(stderr,
               " ORVUS: WARNING: THE INTERVAL REACHES %.1f DAYS FROM THE EPOCH OF THE ELEMENT "
               "SET (MORE THAN 14):\n POSITIONS MAY BE OFF BY KILOMETRES; USE A NEWER SET.\n",
               days);
}

void check_orbit(const RunParams& p, const Propagator& orbit) {
  check_orbit_domain(to_search_params(p), orbit);
  const double horizon = horizon_angle_deg(orbit);
  const double lo = p.ALPHA - p.BETA / 2.0;
  const double hi = p.ALPHA + p.BETA / 2.0;
  if (check_horizon(Sensor{p.ALPHA, p.BETA}, orbit)) {
    throw Fatal{std::string(" ERROR IN \"") + kInputFile +
                    "\", RECORD 6 (ALPHA, BETA): THE VIEW PASSES THE EARTH'S HORIZON.",
                " ALPHA - BETA/2 AND ALPHA + BETA/2 MUST LIE WITHIN " + angle_text(horizon) +
                    " DEGREES OF NADIR FOR THIS ORBIT (GIVEN: " + angle_text(lo) + " AND " +
                    angle_text(hi) + ").",
                " EXECUTION INTERRUPTED."};
  }
}

}  // namespace

SearchParams to_search_params(const RunParams& p) {
  SearchParams s;
  s.lon1 = p.LON1;
  s.lat1 = p.LAT1;
  s.lon2 = p.LON2;
  s.lat2 = p.LAT2;
  s.gc_lon1 = p.GC_LON1;
  s.gc_lat1 = p.GC_LAT1;
  s.gc_lon2 = p.GC_LON2;
  s.gc_lat2 = p.GC_LAT2;
  s.cen_gc_lon = p.CEN_GC_LON;
  s.cen_gc_lat = p.CEN_GC_LAT;
  s.cen_lon = p.CEN_LON;
  s.cen_lat = p.CEN_LAT;
  s.utc_diff = p.UTC_DIFF;
  s.start_day = p.START_DAY;
  s.start_sec = p.START_SEC;
  s.end_day = p.END_DAY;
  s.end_sec = p.END_SEC;
  s.step = p.STEP;
  s.alpha = p.ALPHA;
  s.beta = p.BETA;
  s.alpha0 = p.ALPHA0;
  s.alpha1 = p.ALPHA1;
  s.alpha2 = p.ALPHA2;
  s.element_file = p.TLE_FILE;
  return s;
}

void read_run_params(TextInput& in, RunParams& p) {
  p.SAT_NAME = text_record(in, 50, "RECORD 1 (SATELLITE NAME)");
  p.LOC_NAME = text_record(in, 70, "RECORD 2 (LOCATION NAME)");
  {
    std::array<double, 1> v{};
    read_free_form(in, v, "RECORD 3 (UTC_DIFF)");
    p.UTC_DIFF = v[0];
    // Local and UTC times are brought back into the day by one correction of one day.
    if (check_utc_offset(p.UTC_DIFF)) {
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
    if (check_sensor(Sensor{p.ALPHA, p.BETA})) {
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
    // The record's two messages: a step that is no step at all, and one finer than the
    // reports' milliseconds.
    if (check_step(p.STEP) && !(p.STEP > 0.0 && p.STEP <= 86400.0)) {
      record_error(in, "RECORD 9 (STEP)",
                   "THE TIME STEP MUST BE POSITIVE AND AT MOST 86400 S "
                   "(GIVEN: " +
                       number_text(p.STEP) + ").");
    }
    if (check_step(p.STEP)) {
      record_error(in, "RECORD 9 (STEP)",
                   "THE TIME STEP MUST BE AT LEAST 0.001 S, THE RESOLUTION OF THE REPORTS' TIMES "
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

bool read_run_file(const std::string& path, RunParams& p) {
  TextInput in;
  if (!open_text(in, path)) return false;
  read_run_params(in, p);
  return true;
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
  const InputLock lock(kInputFile);
  remove_stale_report_files();

  // Every input is read and checked before a report is created.
  const SearchSettings settings = search_settings();
  IersTable table;
  READ_IERS_DATA(table);

  RunParams p;
  read_run_params(in, p);

  ReportSet reports;
  reports.create();
  const ReportFiles& files = reports.files();
  write_headers(files, p);
  std::printf("  CREATING ORVUS v" ORVUS_VERSION " REPORTS - PLEASE WAIT..\n");
  std::fflush(stdout);

  // Orbit set-up: the element set of record 1's satellite, and the model.
  const Propagator orbit(run_elements(p));
  warn_element_age(orbit.elements(), p);
  check_orbit(p, orbit);

  p.ALPHA0 = p.ALPHA;
  p.ALPHA1 = p.ALPHA - p.BETA / 2.0;
  p.ALPHA2 = p.ALPHA + p.BETA / 2.0;
  const SearchParams search = to_search_params(p);
  ReportSink sink(files);
  try {
    if (settings.plain) {
      contact_search(search, orbit, table, sink);
    } else {
      screened_search(search, orbit, table, sink, settings.threads);
    }
  } catch (const Fatal& error) {
    // A fatal error of the search leaves the reports as far as they were written; its
    // date-time texts are the report writer's.
    reports.commit();
    throw program_error(error, "INSTHOR3");
  }

  double end_clock = 0.0;
  TIMER2(end_clock);
  const double exec_time = end_clock - start_clock;
  write_execution_time(files.out1.get(), exec_time);
  reports.commit();
  std::printf("  ORVUS v" ORVUS_VERSION " REPORTS CREATED..\n");
  write_console_execution_time(exec_time);
  std::fflush(stdout);
}

}  // namespace orvus
