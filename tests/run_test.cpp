// The program end to end on the real Earth-orientation file and element sets, checked by
// properties of the reports; the box test; bad input files.
#include "legacy/run.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/orbit/model.hpp"
#include "core/report_factors.hpp"
#include "legacy/routines.hpp"
#include "orbit_setup.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::read_lines;
using test::ScratchDir;

struct Scenario {
  std::string tle = "landsat8_2024.tle";
  std::string box = "-48.30, -47.30, -16.10, -15.40";  // LON1, LON2, LAT1, LAT2
  std::string alpha_beta = "0.0, 60.0";
  std::string start = "07/10/2024 00:00:00.000000000";
  std::string end = "08/10/2024 00:00:00.000000000";
  std::string step = "10";
  std::string utc_diff = "-3";
};

std::string input_text(const Scenario& s) {
  return "LANDSAT 8\nTARGET\n" + s.utc_diff + "\n" + s.box + "\n" + s.tle + "\n" + s.alpha_beta +
         "\n" + s.start + "\n" + s.end + "\n" + s.step + "\n";
}

// A working directory with the element file and the real Earth-orientation file.
void prepare(const ScratchDir& dir, const std::string& tle) {
  std::filesystem::copy_file(data_path("tle/" + tle), dir.path / tle);
  std::filesystem::create_symlink(data_path("finals2000A.data"), dir.path / "finals2000A.data");
}

// Seconds of a report time text "dd/mm/yyyy hh:mm:ss.sss" from 1950-01-01.
double text_seconds(const std::string& t) {
  const int d = std::stoi(t.substr(0, 2)), m = std::stoi(t.substr(3, 2)),
            y = std::stoi(t.substr(6, 4));
  // Days from civil (proleptic Gregorian).
  const int yy = y - (m <= 2 ? 1 : 0);
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days = era * 146097L + doe - 719468L - (-7305L);  // 1970 -> 1950
  return days * 86400.0 + std::stoi(t.substr(11, 2)) * 3600.0 + std::stoi(t.substr(14, 2)) * 60.0 +
         std::stod(t.substr(17));
}

struct Contact {
  int number = 0;
  std::vector<std::string> times;  // local time text of every step line
  std::vector<double> lat0;        // geodetic latitude of point (0) per step
  std::vector<std::string> step_lines;
  bool closed = false;
  double best_alpha = 0.0;
};

struct Reports {
  std::vector<std::string> out1, out2, out3;
  std::vector<Contact> contacts;
  std::vector<std::vector<std::string>> rows;  // OUT2 rows split at commas
};

std::vector<std::string> split(const std::string& s, char c) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, c)) out.push_back(item);
  return out;
}

Reports parse(const ScratchDir& dir) {
  Reports r;
  r.out1 = read_lines(dir.file(kOut1File));
  r.out2 = read_lines(dir.file(kOut2File));
  r.out3 = read_lines(dir.file(kOut3File));
  for (const auto& line : r.out1) {
    if (line.rfind(" CONTACT NUMBER: ", 0) == 0) {
      Contact c;
      c.number = std::stoi(line.substr(17));
      r.contacts.push_back(c);
    } else if (line.rfind(" BEST ALPHA: ", 0) == 0) {
      r.contacts.back().closed = true;
      r.contacts.back().best_alpha = std::stod(line.substr(13, 8));
    } else if (line.size() > 24 && line[0] == ' ' && line[3] == '/' && !r.contacts.empty()) {
      r.contacts.back().times.push_back(line.substr(1, 23));
      r.contacts.back().lat0.push_back(std::stod(line.substr(40, 8)));
      r.contacts.back().step_lines.push_back(line);
    }
  }
  for (std::size_t i = 1; i < r.out2.size(); ++i) r.rows.push_back(split(r.out2[i], ','));
  return r;
}

// Runs the scenario with the plain search and then with the screened search (the
// default), which must write the same console lines and reports.
test::RunResult run(const ScratchDir& dir, const Scenario& s) {
  dir.write(kInputFile, input_text(s));
  const auto plain = test::run_orvus(dir.path, "ORVUS_SEARCH=plain");
  const std::string expected = test::comparable_output(dir.path, plain);
  const auto screened = test::run_orvus(dir.path);
  EXPECT_EQ(test::comparable_output(dir.path, screened), expected) << input_text(s);
  return screened;
}

// Properties every run must have, whatever its scenario.
void check_properties(const Reports& r, double step) {
  for (std::size_t i = 0; i < r.contacts.size(); ++i) {
    EXPECT_EQ(r.contacts[i].number, static_cast<int>(i) + 1);  // consecutive
    EXPECT_FALSE(r.contacts[i].times.empty());
    if (i + 1 < r.contacts.size()) {
      EXPECT_TRUE(r.contacts[i].closed);  // only the last may stay open
    }
  }
  std::size_t closed = 0;
  for (const auto& c : r.contacts) closed += c.closed ? 1 : 0;
  ASSERT_EQ(r.rows.size(), closed);
  std::vector<std::string> descending;
  for (std::size_t i = 0; i < r.rows.size(); ++i) {
    const auto& row = r.rows[i];
    ASSERT_EQ(row.size(), 8u) << r.out2[i + 1];
    const Contact& c = r.contacts[i];
    EXPECT_EQ(std::stoi(row[0]), c.number);
    EXPECT_EQ(row[1], c.times.front());
    EXPECT_EQ(row[2], c.times.back());
    const double duration = std::stod(row[3]);
    EXPECT_NEAR(duration, text_seconds(row[2]) - text_seconds(row[1]), 0.0051);
    EXPECT_EQ(static_cast<long>(c.times.size()), std::lround(duration / step) + 1);
    const char pass = row[7][0];
    EXPECT_EQ(pass, c.lat0.back() > c.lat0.front() ? 'A' : 'D') << r.out2[i + 1];
    EXPECT_NEAR(std::stod(row[5]), c.best_alpha, 5e-4 * std::fabs(c.best_alpha) + 1e-4);
    if (pass == 'D') descending.push_back(r.out2[i + 1]);
  }
  ASSERT_EQ(r.out3.size(), descending.size() + 1);
  EXPECT_EQ(r.out3[0], r.out2[0]);
  for (std::size_t i = 0; i < descending.size(); ++i) EXPECT_EQ(r.out3[i + 1], descending[i]);
}

TEST(EndToEnd, RealElementSetsGiveConsistentReports) {
  struct Case {
    Scenario s;
    double step;
    std::size_t min_contacts;
  };
  Scenario landsat;
  landsat.box = "-75.0, -30.0, -35.0, 5.0";  // most of South America
  landsat.alpha_beta = "10.0, 20.0";
  landsat.start = "07/10/2024 00:00:00.000000000";
  landsat.end = "09/10/2024 12:00:00.000000000";
  landsat.step = "5";
  Scenario amazonia;
  amazonia.tle = "amazonia1_2025.tle";
  amazonia.box = "-10.0, 30.0, 35.0, 60.0";  // Europe
  amazonia.alpha_beta = "-5.0, 40.0";
  amazonia.start = "25/07/2025 00:00:00.000000000";
  amazonia.end = "26/07/2025 00:00:00.000000000";
  amazonia.step = "3";
  amazonia.utc_diff = "2";
  for (const Case& c : {Case{landsat, 5.0, 8}, Case{amazonia, 3.0, 4}}) {
    ScratchDir dir;
    prepare(dir, c.s.tle);
    const auto res = run(dir, c.s);
    ASSERT_EQ(res.status, 0) << res.output;
    EXPECT_EQ(res.output.substr(0, 47), "  CREATING ORVUS v1.13 REPORTS - PLEASE WAIT..\n");
    EXPECT_NE(res.output.find("\n  ORVUS v1.13 REPORTS CREATED..\n  \n\n  EXECUTION TIME: "),
              std::string::npos);
    const Reports r = parse(dir);
    EXPECT_GE(r.contacts.size(), c.min_contacts) << c.s.tle;
    check_properties(r, c.step);
    // Both pass directions over a box this large.
    bool a = false, d = false;
    for (const auto& row : r.rows) (row[7] == "A" ? a : d) = true;
    EXPECT_TRUE(a && d);
    // The report ends with the execution time.
    ASSERT_GE(r.out1.size(), 3u);
    EXPECT_EQ(r.out1[r.out1.size() - 3], " ");
    EXPECT_EQ(r.out1[r.out1.size() - 2], "");
    EXPECT_EQ(r.out1.back().substr(0, 16), " EXECUTION TIME:");
  }
}

TEST(EndToEnd, HeaderLayout) {
  ScratchDir dir;
  prepare(dir, "landsat8_2024.tle");
  Scenario s;
  s.utc_diff = "-3.5";
  s.box = "-48.3, -47.3, -16.1, -15.4";
  s.alpha_beta = "5, 10";
  s.start = "07/10/2024 00:00:00.000000000";
  s.end = "07/10/2024 00:00:00.000000000";
  ASSERT_EQ(run(dir, s).status, 0);
  const Reports r = parse(dir);
  const std::vector<std::string> expected = {
      "  IMAGE AQUISITION CONTACT PREDICTION PROGRAM - ORVUS v1.13 REPORT",
      "  SATELLITE NAME: LANDSAT 8" + std::string(41, ' '),
      "  TLE FILE NAME: landsat8_2024.tle" + std::string(53, ' '),
      "  LOCATION NAME: TARGET" + std::string(64, ' '),
      "  AQUISITION COORDINATES:  -48.3000,-16.1000 TO  -47.3000,-15.4000  (DEG.)",
      "  CENTRAL AQUISITION COORDINATES:  -47.8000,-15.7500 (DEG.)",
      "  SWEEPING ANGLES:  OFF-NADIR VIEW ANGLE, ALPHA =   5.0000  (DEG.)",
      "                    FIELD OF VIEW ANGLE,   BETA =  10.0000  (DEG.)",
      "  TRACKING POINTS:  POINT (0) => ALPHA0 = ALPHA =   5.0000  (DEG.)",
      "                    POINT (1) => ALPHA1 = ALPHA - BETA/2 =   0.0000 (DEG.)",
      "                    POINT (2) => ALPHA2 = ALPHA + BETA/2 =  10.0000 (DEG.)",
      "  LOCAL TIME INTERVAL: 07/10/2024 00:00:00.000 TO 07/10/2024 00:00:00.000000000",
      "  REPORT TIME DIFERENCE FROM UTC: -3h",
      "  TIME STEP (CONTACT SEARCH):      10.000 s"};
  ASSERT_GE(r.out1.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.out1[i], expected[i]) << i;
  EXPECT_EQ(r.out2, (std::vector<std::string>{
                        "ORVUS,LANDSAT 8,TARGET,07/10/2024 00:00:00.000,07/10/2024 00:00:00.000"}));
  EXPECT_EQ(r.out3, r.out2);
}

// The first descending crossing of latitude `lat` after `from` seconds of `day`, with the
// Earth-fixed state there (by the library, independently of the program's search).
struct Crossing {
  double day = 0, sec = 0;
  StateVector ef{};
};

Crossing find_crossing(double day, double from, double lat, bool descending) {
  static EopRows table;
  if (table.mjd.empty()) load_eop_file(table, data_path("finals2000A.data"));
  const test::OrbitSetup orbit = test::set_up_orbit(data_path("tle/landsat8_2024.tle"));
  const UtcInstant& epoch = orbit.elements.epoch;
  const auto at = [&](double sec, StateVector& ef) {
    StateVector tod{};
    sgp8_propagate((day - epoch.day) * 86400 + (sec - epoch.seconds), tod, orbit.earth, orbit.a,
                   orbit.b);
    tod_to_ef(day + 2433282.5, sec / 86400, tod, ef, table);
    return std::asin(ef[2] / std::sqrt(ef[0] * ef[0] + ef[1] * ef[1] + ef[2] * ef[2])) * 180 / M_PI;
  };
  Crossing c;
  c.day = day;
  StateVector ef{};
  double prev = at(from, ef);
  for (double s = from + 1; s < 86000; s += 1) {
    const double now = at(s, ef);
    if (descending ? (prev > lat && now <= lat) : (prev < lat && now >= lat)) {
      c.sec = s;
      c.ef = ef;
      return c;
    }
    prev = now;
  }
  ADD_FAILURE() << "no crossing";
  return c;
}

// Geodetic box of +-half degrees around the ground point seen at `alpha` from `ef`.
std::string box_around(const StateVector& ef, double alpha, double half) {
  Vec6 geo{};
  state_to_spherical(ef, geo);
  const double re = 6378135.0, rp = re * 0.9966471868221031;
  const double radius = rp + (re - rp) * std::cos(geo[1]);
  Vec3 nadir{}, normal{};
  double h = 0;
  nadir_frame(ef, geo, radius, nadir, normal, h);
  double lon = 0, lat = 0;
  off_nadir_point(ef, geo, radius, nadir, normal, h, alpha, lon, lat);
  Vec3 c{}, g{};
  spherical_to_cartesian({lon * detail::deg_to_rad_13, lat * detail::deg_to_rad_13, radius}, c);
  cartesian_to_geodetic(c, g);
  const double glon = g[0] * detail::rad_to_deg_13, glat = g[1] * detail::rad_to_deg_13;
  char buf[200];
  std::snprintf(buf, sizeof buf, "%.6f, %.6f, %.6f, %.6f", glon - half, glon + half, glat - half,
                glat + half);
  return buf;
}

std::string time_text(double day, double sec) {
  DateText t{};
  write_date_text(day, sec, t);
  return std::string(text_view(t));
}

TEST(EndToEnd, SideOfTheTrackGivesTheSignOfBestAlpha) {
  // Landsat 8 descending over the equator on 2024-10-07 (day number 27308).
  const double day = 27308;
  for (const bool descending : {true, false}) {
    const Crossing c = find_crossing(day, 0, 0.0, descending);
    for (const double side : {1.0, -1.0}) {
      ScratchDir dir;
      prepare(dir, "landsat8_2024.tle");
      Scenario s;
      s.utc_diff = "0";
      s.box = box_around(c.ef, 15.0 * side, 0.3);
      s.alpha_beta = std::to_string(15.0 * side) + ", 10.0";
      s.start = time_text(day, c.sec - 600);
      s.end = time_text(day, c.sec + 600);
      s.step = "2";
      const auto res = run(dir, s);
      ASSERT_EQ(res.status, 0) << res.output;
      const Reports r = parse(dir);
      check_properties(r, 2.0);
      ASSERT_EQ(r.rows.size(), 1u) << s.box;
      EXPECT_EQ(r.rows[0][7], descending ? "D" : "A");
      // Left of the track (the side of r x v) is positive.
      EXPECT_GT(std::stod(r.rows[0][5]) * side, 5.0) << descending << " " << side;
    }
  }
}

TEST(EndToEnd, EdgeCases) {
  const double day = 27308;
  const Crossing c = find_crossing(day, 0, 10.0, true);
  const auto scenario = [&](double from, double to, const std::string& step) {
    Scenario s;
    s.utc_diff = "0";
    s.box = box_around(c.ef, 0.0, 0.5);
    s.alpha_beta = "0.0, 0.0";
    s.start = time_text(day, c.sec + from);
    s.end = time_text(day, c.sec + to);
    s.step = step;
    return s;
  };
  {  // start after end: no step, no contact
    ScratchDir dir;
    prepare(dir, "landsat8_2024.tle");
    ASSERT_EQ(run(dir, scenario(600, -600, "1")).status, 0);
    const Reports r = parse(dir);
    EXPECT_EQ(r.out1.size(), 14u + 3u);  // header, blank, empty, execution time
    EXPECT_EQ(r.out2.size(), 1u);
    EXPECT_EQ(r.out3.size(), 1u);
  }
  {  // BETA = 0: the three points coincide; the contact closes with a summary
    ScratchDir dir;
    prepare(dir, "landsat8_2024.tle");
    ASSERT_EQ(run(dir, scenario(-300, 300, "1")).status, 0);
    const Reports r = parse(dir);
    check_properties(r, 1.0);
    ASSERT_EQ(r.contacts.size(), 1u);
    for (const auto& line : r.contacts[0].step_lines) {
      EXPECT_EQ(line.substr(30, 18), line.substr(54, 18)) << line;
      EXPECT_EQ(line.substr(30, 18), line.substr(78, 18)) << line;
    }
    EXPECT_EQ(r.rows[0][7], "D");
    // A contact still open at the end of the interval: steps but no summary.
    ScratchDir open;
    prepare(open, "landsat8_2024.tle");
    ASSERT_EQ(run(open, scenario(-300, 0, "1")).status, 0);
    const Reports o = parse(open);
    ASSERT_EQ(o.contacts.size(), 1u);
    EXPECT_FALSE(o.contacts[0].closed);
    EXPECT_GT(o.contacts[0].times.size(), 1u);
    EXPECT_EQ(o.out2.size(), 1u);
    EXPECT_EQ(o.out3.size(), 1u);
  }
  {  // One in-box step (steps of 120 s over a box 1 degree wide): duration 0, pass "D"
    ScratchDir dir;
    prepare(dir, "landsat8_2024.tle");
    ASSERT_EQ(run(dir, scenario(-600, 600, "120")).status, 0);
    const Reports r = parse(dir);
    check_properties(r, 120.0);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.contacts[0].times.size(), 1u);
    EXPECT_EQ(r.rows[0][3], " 0.0000E+00");
    EXPECT_EQ(r.rows[0][7], "D");
  }
  {  // A box whose eastern edge is 180 E holds the points up to that meridian.
    const auto contacts = [&](const std::string& lon2) {
      ScratchDir dir;
      prepare(dir, "landsat8_2024.tle");
      Scenario s;
      s.box = "150, " + lon2 + ", -10, 10";
      s.alpha_beta = "0, 50";
      s.start = "07/10/2024 00:00:00.000000000";
      s.end = "09/10/2024 00:00:00.000000000";
      s.step = "10";
      EXPECT_EQ(run(dir, s).status, 0);
      return parse(dir).rows.size();
    };
    EXPECT_GT(contacts("179.9"), 0u);
    EXPECT_GE(contacts("180"), contacts("179.9"));
    EXPECT_GE(contacts("200"), contacts("179.9"));
  }
  {  // LON1 > LON2 (the longitudes of record 4 swapped): never in the box
    ScratchDir dir;
    prepare(dir, "landsat8_2024.tle");
    Scenario s = scenario(-300, 300, "1");
    const auto v = split(s.box, ',');
    s.box = v[1] + "," + v[0] + "," + v[2] + "," + v[3];
    ASSERT_EQ(run(dir, s).status, 0);
    EXPECT_TRUE(parse(dir).contacts.empty());
  }
}

TEST(BoxTest, AllFourBoundsIncludedAndNoWrap) {
  SearchParams p;
  p.gc_lon1 = -10;
  p.gc_lon2 = 10;
  p.gc_lat1 = -5;
  p.gc_lat2 = 5;
  EXPECT_TRUE(in_box(p, -10, -5));
  EXPECT_TRUE(in_box(p, 10, 5));
  EXPECT_TRUE(in_box(p, 0, 0));
  EXPECT_FALSE(in_box(p, std::nextafter(10.0, 11.0), 0));
  EXPECT_FALSE(in_box(p, 0, std::nextafter(-5.0, -6.0)));
  EXPECT_FALSE(in_box(p, 350, 0));  // no wrap of longitude
  EXPECT_FALSE(in_box(p, std::nan(""), 0));
  p.gc_lon1 = 10;
  p.gc_lon2 = -10;
  EXPECT_FALSE(in_box(p, 0, 0));
}

TEST(EndToEnd, BadInputStopsWithAMessageNamingTheRecord) {
  struct Case {
    std::string name;
    std::string input;  // empty: no input file at all
    std::string expect;
  };
  const Scenario s;
  const std::string good = input_text(s);
  const auto replace_line = [&](int n, const std::string& text) {
    auto lines = split(good, '\n');
    lines[static_cast<std::size_t>(n - 1)] = text;
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
  };
  const std::vector<Case> cases = {
      {"no input file", "", "CANNOT OPEN THE INPUT FILE \"ORVUS_IN.TXT\""},
      {"end of file before record 9", good.substr(0, good.rfind("10\n")), "RECORD 9 (STEP)"},
      {"empty file", "\n", "RECORD 2"},
      {"step zero", replace_line(9, "0"), "RECORD 9 (STEP)"},
      {"negative step", replace_line(9, "-5"), "RECORD 9 (STEP)"},
      {"step above a day", replace_line(9, "86400.5"), "RECORD 9 (STEP)"},
      {"step not finite", replace_line(9, "NaN"), "RECORD 9 (STEP)"},
      {"step not a number", replace_line(9, "ten"), "\"ten\" IS NOT A FINITE NUMBER."},
      {"empty value", replace_line(4, "-48.3,,-16.1,-15.4"), "EMPTY VALUE BETWEEN COMMAS"},
      {"record 4 short", replace_line(4, "-48.3 -47.3"), "RECORD 4"},
      {"alpha + beta/2 at 90", replace_line(6, "60, 60"), "RECORD 6 (ALPHA, BETA)"},
      {"alpha - beta/2 below -90", replace_line(6, "-80 30"), "RECORD 6 (ALPHA, BETA)"},
      {"utc difference out of range", replace_line(3, "1e400"), "RECORD 3 (UTC_DIFF)"},
      {"utc difference above a day", replace_line(3, "25"), "BETWEEN -24 AND 24 HOURS"},
      {"bad start", replace_line(7, "31/02/2024 00:00:00.000000000"), "INVALID CALENDAR DATE"},
      {"99-hour start", replace_line(7, "01/02/2024 99:00:00.000000000"), "GREATER THAN 24H"},
      {"letter in the end", replace_line(8, "0x/02/2024 00:00:00.000000000"), "COLUMNS 1-2"},
      {"missing element file", replace_line(5, "nowhere.tle"), "nowhere.tle"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    prepare(dir, s.tle);
    if (!c.input.empty()) dir.write(kInputFile, c.input);
    const auto res = test::run_orvus(dir.path);
    EXPECT_EQ(res.status, 1) << c.name;
    EXPECT_NE(res.output.find(c.expect), std::string::npos) << c.name << ":\n" << res.output;
    EXPECT_EQ(res.output.find("REPORTS CREATED"), std::string::npos) << c.name;
  }
  // No Earth-orientation file.
  ScratchDir dir;
  dir.write(kInputFile, good);
  const auto res = test::run_orvus(dir.path);
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.output.find("finals2000A.data"), std::string::npos) << res.output;
  // A day missing from the table ends the run at that step with the lookup's message; the
  // reports written so far stay.
  ScratchDir late;
  prepare(late, s.tle);
  Scenario past = s;
  past.start = "30/05/2027 00:00:00.000000000";
  past.end = "31/05/2027 00:00:00.000000000";
  const auto r2 = run(late, past);
  EXPECT_EQ(r2.status, 1);
  EXPECT_NE(r2.output.find("ERRO NA SUBROTINA LOCATE_IERS_DATA: \nTEMPO JULIANO MODIFICADO 61555"),
            std::string::npos)
      << r2.output;
  EXPECT_EQ(read_lines(late.file(kOut2File)).size(), 1u);
}

TEST(EndToEnd, CommandLine) {
  ScratchDir dir;
  const std::string cmd = std::string("'") + ORVUS_BINARY + "' --version";
  FILE* p = popen(cmd.c_str(), "r");
  char buf[64] = {};
  ASSERT_NE(std::fgets(buf, sizeof buf, p), nullptr);
  EXPECT_EQ(pclose(p), 0);
  EXPECT_EQ(std::string(buf), "ORVUS v1.13\n");
}

}  // namespace
}  // namespace orvus
