// Time texts and the Earth-orientation table.
#include "orvus/time.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <tuple>

#include "core/time/eop.hpp"
#include "core/time/eop_table.hpp"
#include "core/time/time_text.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::fatal_lines;

std::string hor(double day, double sec) {
  DateText t{};
  write_date_text(day, sec, t);
  return std::string(text_view(t));
}

void djm(const std::string& text, double& day, double& sec) {
  read_date_text(text, day, sec);
}

TEST(TimeText, Examples) {
  double d = -1, s = -1;
  djm("01/01/1950 00:00:00.000000000", d, s);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(s, 0.0);
  djm("07/12/2026 12:00:00.000000000", d, s);
  EXPECT_EQ(d, 28099.0);
  EXPECT_EQ(s, 43200.0);
  EXPECT_EQ(hor(28099, 43200), "07/12/2026 12:00:00.000000000");
  EXPECT_EQ(hor(28099, 45296.25), "07/12/2026 12:34:56.250000000");
  djm("05/03/2019 04:07:09.000000000", d, s);
  EXPECT_EQ(hor(d, s), "05/03/2019 04:07:09.000000000");
  // Rounding carry into minutes and hours, never into the date.
  EXPECT_EQ(hor(28099, 86399.9999999999), "07/12/2026 24:00:00.000000000");
  EXPECT_EQ(hor(28099, 3599.9999999999), "07/12/2026 01:00:00.000000000");
  // Exactly 86400 s: the same day's date with 24:00.
  EXPECT_EQ(hor(28099, 86400.0), "07/12/2026 24:00:00.000000000");
  djm("10/05/2019 24:00:00.000000000", d, s);
  EXPECT_EQ(s, 86400.0);
  // Hours and minutes are checked only through the total.
  djm("10/05/2019 10:75:00.000000000", d, s);
  EXPECT_EQ(s, 40500.0);
  // A day number with a fraction moves the date, not the time of day.
  EXPECT_EQ(hor(28099.75, 3600.0), "07/12/2026 01:00:00.000000000");
  EXPECT_EQ(hor(28099.75, 43200.0), "08/12/2026 12:00:00.000000000");
  // Seconds without a decimal point take nine decimals.
  djm("10/05/2019 00:00:  1500000000", d, s);
  EXPECT_EQ(s, 1.5);
}

TEST(TimeText, BadTimesStopWithTheirMessages) {
  const std::vector<std::string> over = {" ERROR: SECONDS OF THE DAY GREATER THAN 24H!",
                                         " EXECUTION INTERRUPTED."};
  double d = 0, s = 0;
  EXPECT_EQ(fatal_lines([&] { djm("10/05/2019 24:00:00.000000001", d, s); }), over);
  EXPECT_EQ(fatal_lines([&] { djm("10/05/2019 99:00:00.000000000", d, s); }), over);
  EXPECT_EQ(fatal_lines([&] { djm("10/05/2019 00:00:-1.000000000", d, s); })[0],
            " ERROR: SECONDS OF THE DAY NEGATIVE!");
  for (const char* bad : {"31/02/2021 00:00:00.000000000", "01/13/2021 00:00:00.000000000",
                          "00/01/2021 00:00:00.000000000", "29/02/2023 00:00:00.000000000"}) {
    const auto lines = fatal_lines([&] { djm(bad, d, s); });
    ASSERT_EQ(lines.size(), 2u) << bad;
    EXPECT_EQ(lines[0], " ERROR: INVALID CALENDAR DATE!");
  }
  djm("29/02/2024 00:00:00.000000000", d, s);  // a leap day is valid
  EXPECT_EQ(hor(d, s), "29/02/2024 00:00:00.000000000");
  try {
    (void)hor(100, 86400.000001);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::time);
    EXPECT_EQ(e.lines()[0], " ERROR: SECONDS OF THE DAY GREATER THAN 24H!");
    // (The program's routine header before them: routines_test.cpp.)
  }
  // A letter in a field names the columns.
  const auto bad = fatal_lines([&] { djm("1O/05/2019 00:00:00.000000000", d, s); });
  EXPECT_NE(bad[0].find("COLUMNS 1-2"), std::string::npos);
}

TEST(TimeText, RoundTripsOverRandomInstants) {
  std::mt19937_64 rng(20261208);
  std::uniform_int_distribution<int> year(1950, 2060), month(1, 12), hour(0, 23), minute(0, 59);
  std::uniform_int_distribution<long> nanos(0, 59999999999L);
  const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int i = 0; i < 20000; ++i) {
    const int y = year(rng), m = month(rng);
    const int leap = (m == 2 && y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 1 : 0;
    const int dd = std::uniform_int_distribution<int>(1, mdays[m - 1] + leap)(rng);
    const long ns = nanos(rng);
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%4d %02d:%02d:%02ld.%09ld", dd, m, y, hour(rng),
                  minute(rng), ns / 1000000000L, ns % 1000000000L);
    double d = 0, s = 0;
    djm(text, d, s);
    ASSERT_EQ(hor(d, s), text);
    // The day number agrees with ERFA's own calendar.
    double djm0 = 0, mjd = 0;
    eraCal2jd(y, m, dd, &djm0, &mjd);
    ASSERT_EQ(d, mjd - 33282.0);
  }
}

// The milliseconds of the tables' times: by hand (Unix times from the calendar), the rounding
// to the nanosecond then the cut to the millisecond, 24:00 as the next day, and over random
// instants the ISO text iso_time writes, read back by the civil-days count (H. Hinnant's
// days_from_civil) rather than the library's calendar.
TEST(TimeText, TableMillisecondsAreTheIsoTextsTime) {
  EXPECT_EQ(iso_time_ms(UtcInstant{7305.0, 0.0}), 0);                   // 1970-01-01T00:00:00.000Z
  EXPECT_EQ(iso_time_ms(UtcInstant{27576.0, 47505.0}), 1751461905000);  // 2025-07-02T13:11:45Z
  EXPECT_EQ(iso_time_ms(UtcInstant{27576.0, 47505.0009999}), 1751461905000);
  EXPECT_EQ(iso_time_ms(UtcInstant{27576.0, 47505.0019999999999}), 1751461905002);
  EXPECT_EQ(iso_time_ms(UtcInstant{28099.0, 86399.9999999999}), 1796688000000);  // 2026-12-08
  EXPECT_EQ(iso_time_ms(UtcInstant{7304.0, 86399.5}), -500);
  const auto days_from_civil = [](long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  };
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> day(0.0, 40000.0), second(0.0, 86400.0);
  for (int i = 0; i < 20000; ++i) {
    const UtcInstant t{std::floor(day(rng)), second(rng)};
    const std::string text = iso_time(t);
    long y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    ASSERT_EQ(
        std::sscanf(text.c_str(), "%ld-%ld-%ldT%ld:%ld:%ld.%ldZ", &y, &mo, &d, &h, &mi, &s, &ms), 7)
        << text;
    ASSERT_EQ(iso_time_ms(t),
              ((days_from_civil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + ms)
        << text;
  }
}

// --- Earth-orientation table ---

// The rows of the real file, as the library loaded them.
const EopRows& real_table() {
  return detail::eop_rows(test::eop());
}

// The instant so many seconds after another: by hand across days either way, 86400 s of a day
// as the next day's 0, and over random offsets the seconds within the day and the offset
// given back by since_epoch.
TEST(TimeArithmetic, TheInstantSoManySecondsAfter) {
  const UtcInstant base{27000.0, 86000.0};
  const std::tuple<double, double, double> cases[] = {
      {0.0, 27000.0, 86000.0},      {400.0, 27001.0, 0.0},
      {400.5, 27001.0, 0.5},        {-86000.0, 27000.0, 0.0},
      {-86000.5, 26999.0, 86399.5}, {3.0 * 86400.0 + 1.0, 27003.0, 86001.0}};
  for (const auto& [offset, day, seconds] : cases) {
    const UtcInstant t = after(base, offset);
    EXPECT_EQ(t.day, day) << offset;
    EXPECT_EQ(t.seconds, seconds) << offset;
  }
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> offset(-40.0 * 86400.0, 40.0 * 86400.0);
  for (int i = 0; i < 1000; ++i) {
    const double s = std::round(offset(rng) * 1000.0) / 1000.0;
    const UtcInstant t = after(base, s);
    EXPECT_TRUE(t.seconds >= 0.0 && t.seconds < 86400.0) << s;
    EXPECT_NEAR(since_epoch(base, t), s, 1e-9) << s;
  }
}

TEST(EarthOrientation, RealFileValuesAndDayBoundaries) {
  const EopRows& t = real_table();
  EXPECT_TRUE(t.daily);
  EXPECT_EQ(t.mjd.front(), 48622.0);  // 1992-01-01
  EXPECT_EQ(t.mjd.back(), 61554.0);   // the last record with a flag ("P")
  EXPECT_EQ(t.mjd.size(), 12933u);
  struct Row {
    double mjd, xp, yp, dut1;
  };
  // Read off the file by hand.
  const Row rows[] = {{48622, 0.182987, 0.168775, -0.1251659},
                      {60000, -0.039677, 0.305150, -0.0151470},
                      {60228, 0.293751, 0.309891, 0.0146879},
                      {61554, 0.177115, 0.488226, 0.0068582}};
  for (const Row& r : rows) {
    for (double frac : {0.0, 0.25, 0.999999}) {
      double xp = 0, yp = 0, dut1 = 0;
      locate_eop(r.mjd + frac, t, xp, yp, dut1);
      EXPECT_EQ(xp, r.xp) << r.mjd + frac;
      EXPECT_EQ(yp, r.yp);
      EXPECT_EQ(dut1, r.dut1);
    }
  }
  // 0 h UTC switches to the next row.
  double xp = 0, yp = 0, dut1 = 0;
  locate_eop(60228.0, t, xp, yp, dut1);
  EXPECT_EQ(xp, 0.293751);
  locate_eop(60228.0 - 1e-9, t, xp, yp, dut1);
  EXPECT_EQ(xp, 0.294940);
  // Before the first record by less than a day: the first record.
  locate_eop(48621.5, t, xp, yp, dut1);
  EXPECT_EQ(xp, 0.182987);
  // Past the last flagged record.
  EXPECT_EQ(fatal_lines([&] { locate_eop(61555.0, t, xp, yp, dut1); }),
            (std::vector<std::string>{" NO EARTH-ORIENTATION DATA FOR MJD 61555.",
                                      " EXECUTION INTERRUPTED."}));
  try {
    locate_eop(48621.0, t, xp, yp, dut1);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::earth_orientation);
    // (The program's three lines for it: routines_test.cpp.)
  }
}

void expect_same_as_scan(const EopRows& t, double date) {
  std::size_t row = 0;
  const bool found = scan_eop_rows(date, t, row);
  double xp = 0, yp = 0, dut1 = 0;
  bool located = true;
  try {
    locate_eop(date, t, xp, yp, dut1);
  } catch (const Error&) {
    located = false;
  }
  ASSERT_EQ(located, found) << std::setprecision(17) << date;
  if (found) {
    ASSERT_EQ(xp, t.xp[row]) << std::setprecision(17) << date;
    ASSERT_EQ(dut1, t.dut1[row]) << std::setprecision(17) << date;
  }
}

TEST(EarthOrientation, IndexedLookupEqualsThePlainScan) {
  const EopRows& t = real_table();
  const double first = t.mjd.front();
  const double last = t.mjd.back();
  // Every day of the table and its neighbours, at 0 h, just before and just after.
  for (double d = first - 3; d <= last + 3; d += 1.0) {
    for (double off : {0.0, 1e-9, -1e-9, 0.5, 0.999999999, std::nextafter(1.0, 0.0)}) {
      expect_same_as_scan(t, d + off);
    }
    expect_same_as_scan(t, std::nextafter(d, -1e300));
    expect_same_as_scan(t, std::nextafter(d, 1e300));
  }
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> any(first - 10, last + 10);
  for (int i = 0; i < 200000; ++i) expect_same_as_scan(t, any(rng));
  expect_same_as_scan(t, std::nan(""));
  expect_same_as_scan(t, 1e300);
  expect_same_as_scan(t, -1e300);
  expect_same_as_scan(t, 0.0);
}

// A finals file built from real records, with the MJD field rewritten.
std::string finals_line(const std::string& real, double mjd) {
  std::string line = real;
  char field[16];
  std::snprintf(field, sizeof field, "%8.2f", mjd);
  line.replace(7, 8, field);
  return line;
}

TEST(EarthOrientation, IrregularTablesFallBackToTheScan) {
  test::ScratchDir dir;
  const auto real = test::read_lines(data_path("finals2000A.data"));
  // A gap, a repeated day and a step back: not one row per day.
  std::string text;
  const double mjds[] = {60000, 60001, 60003, 60003, 60002, 60010};
  for (std::size_t i = 0; i < std::size(mjds); ++i)
    text += finals_line(real[11378 + i], mjds[i]) + "\n";
  text += real.back() + "\n";  // a record without a flag ends the table
  dir.write("finals.data", text);
  EopRows t;
  load_eop_file(t, dir.file("finals.data"));
  EXPECT_FALSE(t.daily);
  EXPECT_EQ(t.mjd.size(), 6u);
  for (double d = 59995; d < 60015; d += 0.125) expect_same_as_scan(t, d);
}

TEST(EarthOrientation, CoverageCheckAgreesWithTheScan) {
  // Irregular tables, including dates so large that a day is below their rounding (found by
  // fuzzing: the coverage check missed the row at 3e299).
  EopRows t;
  t.mjd = {3e299, 60882, 60882, 60883, -1e20};
  t.xp = t.yp = t.dut1 = {0, 0, 0, 0, 0};
  t.sorted_mjd = t.mjd;
  std::sort(t.sorted_mjd.begin(), t.sorted_mjd.end());
  for (double d : {3e299, 3e299 - 0.5, 60881.5, 60882.0, 60883.99, 60884.0, -1e20, -1e20 + 0.5, 0.0,
                   std::nan(""), 1e300}) {
    std::size_t row = 0;
    EXPECT_EQ(eop_covers(d, t), scan_eop_rows(d, t, row)) << d;
  }
  const EopRows& real = real_table();
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> any(48000, 62000);
  for (int i = 0; i < 20000; ++i) {
    const double d = any(rng);
    std::size_t row = 0;
    ASSERT_EQ(eop_covers(d, real), scan_eop_rows(d, real, row)) << d;
  }
}

TEST(EarthOrientation, LoadingStopsAtTheFirstUnflaggedRecord) {
  test::ScratchDir dir;
  const auto real = test::read_lines(data_path("finals2000A.data"));
  std::string lower = real[2];
  lower[16] = 'i';  // a lower-case flag ends the table like a blank
  dir.write("finals.data", real[0] + "\r\n" + real[1] + "\r\n" + lower + "\n" + real[3] + "\n");
  EopRows t;
  load_eop_file(t, dir.file("finals.data"));
  EXPECT_EQ(t.mjd.size(), 2u);
  EXPECT_EQ(t.dut1[1], -0.1269551);  // CRLF line ends read as plain lines

  // Only flagged records ("P" counts like "I"): read to the end, the last one kept.
  std::string p = real[3];
  p[16] = 'P';
  dir.write("finals.data", real[0] + "\n" + real[1] + "\n" + real[2] + "\n" + p);
  load_eop_file(t, dir.file("finals.data"));
  EXPECT_EQ(t.mjd.size(), 4u);
  EXPECT_EQ(t.mjd.back(), 48625.0);
}

TEST(EarthOrientation, BadFilesStopWithAClearMessage) {
  test::ScratchDir dir;
  EopRows t;
  auto lines = fatal_lines([&] { load_eop_file(t, dir.file("finals2000A.data")); });
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("finals2000A.data"), std::string::npos);

  const auto real = test::read_lines(data_path("finals2000A.data"));
  std::string bad = real[1];
  bad[21] = 'x';  // inside x_p, columns 19-27
  dir.write("finals2000A.data", real[0] + "\n" + bad + "\n");
  lines = fatal_lines([&] { load_eop_file(t, dir.file("finals2000A.data")); });
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("LINE 2"), std::string::npos);
  EXPECT_NE(lines[0].find("COLUMNS 19-27"), std::string::npos);

  dir.write("finals2000A.data", real.back() + "\n" + real[0] + "\n");
  lines = fatal_lines([&] { load_eop_file(t, dir.file("finals2000A.data")); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("NO POLAR-MOTION FLAG"), std::string::npos);
  dir.write("finals2000A.data", "");
  lines = fatal_lines([&] { load_eop_file(t, dir.file("finals2000A.data")); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("EMPTY"), std::string::npos);
}

}  // namespace
}  // namespace orvus
