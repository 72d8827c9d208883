// The three reports: the text report OUT1 and the comma-separated tables OUT2 (every
// contact) and OUT3 (descending passes).
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/io/edit_format.hpp"
#include "core/io/text.hpp"
#include "legacy/run.hpp"

namespace orvus {

namespace {

std::string_view first23(const DateText& t) {
  return {t.data(), 23};
}

// Iw of a real truncated toward zero; asterisks when it cannot be an integer of the field.
void put_truncated(Record& r, double value, int w) {
  if (std::isfinite(value) && std::fabs(value) < 1.0e15) {
    put_i(r, static_cast<std::int64_t>(std::trunc(value)), w);
  } else {
    put_a(r, std::string(static_cast<std::size_t>(w), '*'));
  }
}

void csv_header(std::FILE* out, const RunParams& p) {
  Record r;
  put_a(r, "ORVUS", 5);
  put_a(r, ",", 1);
  put_a(r, trim_blanks(p.SAT_NAME), p.SAT_LEN);
  put_a(r, ",", 1);
  put_a(r, trim_blanks(p.LOC_NAME), p.LOC_LEN);
  put_a(r, ",", 1);
  put_a(r, std::string_view(p.START_LOCAL).substr(0, 23), 23);
  put_a(r, ",", 1);
  put_a(r, std::string_view(p.END_LOCAL).substr(0, 23), 23);
  end_line(out, r);
}

}  // namespace

void write_headers(const ReportFiles& files, const RunParams& p) {
  std::FILE* out = files.out1.get();
  Record r;
  put_x(r, 2);
  put_a(r, "IMAGE AQUISITION CONTACT PREDICTION PROGRAM - ORVUS v" ORVUS_VERSION " REPORT", 64);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "SATELLITE NAME: ", 16);
  put_a(r, p.SAT_NAME, 50);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "TLE FILE NAME: ", 15);
  put_a(r, p.TLE_FILE, 70);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "LOCATION NAME: ", 15);
  put_a(r, p.LOC_NAME, 70);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "AQUISITION COORDINATES: ", 24);
  put_f(r, p.LON1, 9, 4);
  put_a(r, ",", 1);
  put_f(r, p.LAT1, 8, 4);
  put_a(r, " TO ", 4);
  put_f(r, p.LON2, 9, 4);
  put_a(r, ",", 1);
  put_f(r, p.LAT2, 8, 4);
  put_a(r, " (DEG.)", 8);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "CENTRAL AQUISITION COORDINATES: ", 32);
  put_f(r, p.CEN_LON, 9, 4);
  put_a(r, ",", 1);
  put_f(r, p.CEN_LAT, 8, 4);
  put_a(r, " (DEG.)", 7);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "SWEEPING ANGLES:  OFF-NADIR VIEW ANGLE, ALPHA = ", 48);
  put_f(r, p.ALPHA, 8, 4);
  put_a(r, " (DEG.)", 8);
  end_line(out, r);
  put_x(r, 2);
  put_a(r, "                  FIELD OF VIEW ANGLE,   BETA = ", 48);
  put_f(r, p.BETA, 8, 4);
  put_a(r, " (DEG.)", 8);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "TRACKING POINTS:  POINT (0) => ALPHA0 = ALPHA = ", 48);
  put_f(r, p.ALPHA, 8, 4);
  put_a(r, " (DEG.)", 8);
  end_line(out, r);
  put_x(r, 2);
  put_a(r, "                  POINT (1) => ALPHA1 = ALPHA - BETA/2 = ", 57);
  put_f(r, p.ALPHA - p.BETA / 2.0, 8, 4);
  put_a(r, " (DEG.)", 7);
  end_line(out, r);
  put_x(r, 2);
  put_a(r, "                  POINT (2) => ALPHA2 = ALPHA + BETA/2 = ", 57);
  put_f(r, p.ALPHA + p.BETA / 2.0, 8, 4);
  put_a(r, " (DEG.)", 7);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "LOCAL TIME INTERVAL: ", 21);
  put_a(r, std::string_view(p.START_LOCAL).substr(0, 23), 23);
  put_a(r, " TO ", 4);
  put_a(r, p.END_LOCAL, 29);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "REPORT TIME DIFERENCE FROM UTC: ", 31);
  put_truncated(r, p.UTC_DIFF, 3);
  put_a(r, "h", 1);
  end_line(out, r);

  put_x(r, 2);
  put_a(r, "TIME STEP (CONTACT SEARCH):   ", 29);
  put_f(r, p.STEP, 10, 3);
  put_a(r, " s", 2);
  end_line(out, r);

  csv_header(files.out2.get(), p);
  csv_header(files.out3.get(), p);
}

void write_contact_heading(std::FILE* out1, std::int32_t ncontact) {
  Record r;
  end_line(out1, r);
  put_x(r, 1);
  put_a(r, "CONTACT NUMBER: ", 16);
  put_i(r, ncontact, 5);
  end_line(out1, r);
}

void write_step_line(std::FILE* out1, const DateText& local, const double (&gd)[6]) {
  static constexpr std::string_view kLabels[3] = {"(0)", "(1)", "(2)"};
  Record r;
  put_x(r, 1);
  put_a(r, first23(local), 23);
  for (std::size_t k = 0; k < 3; ++k) {
    put_x(r, 2);
    put_a(r, kLabels[k], 3);
    put_x(r, 1);
    put_f(r, gd[2 * k], 9, 4);
    put_a(r, ",", 1);
    put_f(r, gd[2 * k + 1], 8, 4);
  }
  end_line(out1, r);
}

void write_best_alpha(std::FILE* out1, double best_alpha, const DateText& best, double best_lon,
                      double best_lat) {
  Record r;
  put_a(r, " BEST ALPHA: ", 13);
  put_f(r, best_alpha, 8, 4);
  put_a(r, " (DEG.)  TIME: ", 15);
  put_a(r, first23(best), 23);
  put_a(r, "  POINT (0): ", 13);
  put_f(r, best_lon, 9, 4);
  put_a(r, ",", 1);
  put_f(r, best_lat, 8, 4);
  end_line(out1, r);
}

void write_summary(std::FILE* out, std::int32_t ncontact, const DateText& start,
                   const DateText& end, double duration, const DateText& best, double best_alpha,
                   double mindist, char pass) {
  Record r;
  put_i(r, ncontact, 4);
  put_a(r, ",", 1);
  put_a(r, first23(start), 23);
  put_a(r, ",", 1);
  put_a(r, first23(end), 23);
  put_a(r, ",", 1);
  put_e(r, duration, 11, 4);
  put_a(r, ",", 1);
  put_a(r, first23(best), 23);
  put_a(r, ",", 1);
  put_e(r, best_alpha, 11, 4);
  put_a(r, ",", 1);
  put_e(r, mindist, 11, 4);
  put_a(r, ",", 1);
  put_a(r, std::string_view(&pass, 1), 1);
  end_line(out, r);
}

void ReportSink::contact_start(int number, const ContactStep& /*first*/) {
  write_contact_heading(files_.out1.get(), number);
  check_report_streams(files_);
}

void ReportSink::contact_step(int /*number*/, const ContactStep& step) {
  DateText local{};
  INSTHOR3(step.local.day, step.local.seconds, local);
  const double gd[6] = {step.geodetic[0].lon_deg, step.geodetic[0].lat_deg,
                        step.geodetic[1].lon_deg, step.geodetic[1].lat_deg,
                        step.geodetic[2].lon_deg, step.geodetic[2].lat_deg};
  write_step_line(files_.out1.get(), local, gd);
  check_report_streams(files_);
}

void ReportSink::contact_end(const Contact& c) {
  DateText start{}, end{}, best{};
  INSTHOR3(c.start_local.day, c.start_local.seconds, start);
  INSTHOR3(c.end_local.day, c.end_local.seconds, end);
  INSTHOR3(c.best_local.day, c.best_local.seconds, best);
  write_best_alpha(files_.out1.get(), c.best_alpha_deg, best, c.best_geodetic.lon_deg,
                   c.best_geodetic.lat_deg);
  if (c.pass == 'D') {
    write_summary(files_.out3.get(), c.number, start, end, c.duration_s, best, c.best_alpha_deg,
                  c.distance_deg, c.pass);
  }
  write_summary(files_.out2.get(), c.number, start, end, c.duration_s, best, c.best_alpha_deg,
                c.distance_deg, c.pass);
  check_report_streams(files_);
}

void write_execution_time(std::FILE* out1, double exec_time) {
  Record r;
  put_x(r, 1);
  end_line(out1, r);
  end_line(out1, r);
  put_x(r, 1);
  put_a(r, "EXECUTION TIME:", 15);
  put_x(r, 1);
  put_f(r, exec_time, 10, 2);
  put_x(r, 1);
  put_a(r, "s", 1);
  end_line(out1, r);
}

void write_console_execution_time(double exec_time) {
  Record r;
  put_x(r, 2);
  end_line(stdout, r);
  end_line(stdout, r);
  put_x(r, 2);
  put_a(r, "EXECUTION TIME:", 15);
  put_x(r, 1);
  put_f(r, exec_time, 10, 2);
  put_x(r, 1);
  put_a(r, "s", 1);
  end_line(stdout, r);
}

}  // namespace orvus
