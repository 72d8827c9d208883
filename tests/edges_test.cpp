// Boxes at the edges of the map (across +-180 and up to the poles) on real element sets, and
// golden runs: reports that must not drift from one commit to the next.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "legacy/routines.hpp"
#include "legacy/run.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::read_lines;
using test::ScratchDir;

constexpr double kRad = 0.017453292519943295;

struct Contact {
  std::vector<std::string> steps;  // step lines of OUT1
  std::string best_line;           // its BEST ALPHA line, empty while open
};

// Runs a scenario on the real Earth-orientation file and returns the contacts of OUT1 and
// the rows of OUT2 (header dropped).
struct Outcome {
  int status = -1;
  std::vector<Contact> contacts;
  std::vector<std::string> rows;
};

Outcome run(const std::string& tle, const std::string& box, const std::string& alpha_beta,
            const std::string& start, const std::string& end, const std::string& step,
            const std::string& utc_diff = "0", const std::string& env = "") {
  ScratchDir dir;
  std::filesystem::copy_file(data_path("tle/" + tle), dir.path / tle);
  std::filesystem::create_symlink(data_path("finals2000A.data"), dir.path / "finals2000A.data");
  dir.write("ORVUS_IN.TXT", "SAT\nBOX\n" + utc_diff + "\n" + box + "\n" + tle + "\n" + alpha_beta +
                                "\n" + start + "\n" + end + "\n" + step + "\n");
  Outcome r;
  r.status = test::run_orvus(dir.path, env).status;
  for (const auto& line : read_lines(dir.file("ORVUS_v1.13_OUT1.TXT"))) {
    if (line.find("CONTACT NUMBER:") != std::string::npos) r.contacts.emplace_back();
    if (r.contacts.empty()) continue;
    if (line.find("BEST ALPHA:") != std::string::npos) r.contacts.back().best_line = line;
    if (line.find("(2)") != std::string::npos) r.contacts.back().steps.push_back(line);
  }
  const auto out2 = read_lines(dir.file("ORVUS_v1.13_OUT2.CSV"));
  r.rows.assign(out2.begin() + (out2.empty() ? 0 : 1), out2.end());
  return r;
}

// Longitude of tracking point k (0, 1, 2) on a step line.
double point_lon(const std::string& step_line, int k) {
  return std::stod(step_line.substr(step_line.find("(" + std::to_string(k) + ")") + 3, 10));
}

// Great-circle angle in degrees between two points given in degrees.
double angle_deg(double lon1, double lat1, double lon2, double lat2) {
  const double c = std::sin(lat1 * kRad) * std::sin(lat2 * kRad) +
                   std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::cos((lon2 - lon1) * kRad);
  return std::acos(std::clamp(c, -1.0, 1.0)) / kRad;
}

TEST(MapEdges, BestTimeAcrossTheAntimeridian) {
  // Fiji, box 179..180 E: the sub-satellite points 30 s either side of the nearest step lie
  // on both sides of 180 for some passes.
  const Outcome r = run("landsat8_2024.tle", "179.0, 180.0, -17.5, -16.5", "0, 60",
                        "01/10/2024 00:00:00", "20/10/2024 00:00:00", "1", "12");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.rows.size(), 6u);
  for (std::size_t i = 0; i < r.rows.size(); ++i) {
    const std::string& row = r.rows[i];
    // Start, end and best time share the date here. The box may be abeam up to a step
    // outside the in-box steps (the points are tested once a step).
    const auto seconds = [&row](std::size_t at) {
      return std::stod(row.substr(at, 2)) * 3600 + std::stod(row.substr(at + 3, 2)) * 60 +
             std::stod(row.substr(at + 6, 6));
    };
    EXPECT_LE(seconds(16) - 1.0, seconds(76)) << row;
    EXPECT_LE(seconds(76), seconds(40) + 1.0) << row;
    const std::string& b = r.contacts[i].best_line;
    EXPECT_LT(std::fabs(std::stod(b.substr(b.find(':') + 1))), 40.0) << b;
    const std::string point = b.substr(b.find("POINT (0):") + 10);
    const double lon = std::stod(point), lat = std::stod(point.substr(point.find(',') + 1));
    EXPECT_LT(angle_deg(lon, lat, 179.5, -17.0), 1.0) << b;
  }
}

TEST(MapEdges, BoxWrittenAcrossTheAntimeridian) {
  // 172.77 E to 178.40 W, written with a western corner past -180.
  const Outcome across = run("landsat8_2024.tle", "-187.23, -178.4022, -48.31, -23.119932", "0, 60",
                             "01/10/2024 00:00:00", "04/10/2024 00:00:00", "2");
  ASSERT_EQ(across.status, 0);
  ASSERT_GE(across.rows.size(), 4u);
  bool east = false, west = false;  // in-box points seen on either side of 180
  for (const Contact& c : across.contacts) {
    for (const std::string& s : c.steps) {
      for (int k = 0; k < 3; ++k) {
        const double lon = point_lon(s, k);
        east = east || (lon >= 172.77 && lon <= 180.0);
        west = west || (lon > -180.0 && lon <= -178.41);
      }
    }
  }
  EXPECT_TRUE(east);
  EXPECT_TRUE(west);
  // The same place written one turn east gives the same contacts; so does the plain search.
  const auto rows = [](const std::string& box, const std::string& env) {
    return run("landsat8_2024.tle", box, "0, 30", "01/10/2024 00:00:00", "05/10/2024 00:00:00", "5",
               "0", env)
        .rows;
  };
  const auto written_west = rows("-170, -160, -10, 0", "");
  EXPECT_GE(written_west.size(), 4u);
  EXPECT_EQ(rows("190, 200, -10, 0", ""), written_west);
  EXPECT_EQ(rows("190, 200, -10, 0", "ORVUS_SEARCH=plain"), written_west);
}

TEST(MapEdges, CornersAtThePoles) {
  // The corners keep their longitudes when their latitude is +-90.
  for (const auto& [box, lon1, lon2] :
       std::vector<std::tuple<std::string, double, double>>{{"0, 20, 80, 90", 0.0, 20.0},
                                                            {"-180, 180, -90, 90", -180.0, 180.0},
                                                            {"170, 190, -90, -80", 170.0, 190.0}}) {
    ScratchDir dir;
    dir.write("in.txt", "S\nL\n0\n" + box + "\nx.tle\n0, 10\n01/10/2024\n02/10/2024\n60\n");
    TextInput in;
    ASSERT_TRUE(open_text(in, dir.file("in.txt")));
    RunParams p;
    read_run_params(in, p);
    EXPECT_NEAR(p.GC_LON1, lon1, 1e-9) << box;
    EXPECT_NEAR(p.GC_LON2, lon2, 1e-9) << box;
    EXPECT_NEAR(std::max(std::fabs(p.GC_LAT1), std::fabs(p.GC_LAT2)), 90.0, 1e-12) << box;
  }
  // The whole Earth sees the satellite at every step: one contact, open all day.
  const Outcome whole = run("landsat8_2024.tle", "-180, 180, -90, 90", "0, 10",
                            "01/10/2024 00:00:00", "02/10/2024 00:00:00", "60");
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(whole.contacts.size(), 1u);
  EXPECT_EQ(whole.contacts[0].steps.size(), 1441u);
  EXPECT_TRUE(whole.rows.empty());
  // A polar cap is visited on every revolution of a sun-synchronous orbit (98 deg).
  const Outcome cap = run("landsat8_2024.tle", "0, 360, 80, 90", "0, 30", "01/10/2024 00:00:00",
                          "02/10/2024 00:00:00", "10");
  ASSERT_EQ(cap.status, 0);
  EXPECT_GE(cap.rows.size(), 14u);
}

// Reports of runs made before the edges of the map were mended, for boxes away from them:
// every line but the execution time must stay as it was, however the search runs.
TEST(GoldenRuns, ReportsStayAsTheyWere) {
  const std::filesystem::path golden = data_path("golden");
  for (const auto& entry : std::filesystem::directory_iterator(golden)) {
    const std::filesystem::path g = entry.path();
    for (const char* env : {"ORVUS_SEARCH=plain", "ORVUS_THREADS=1", "ORVUS_THREADS=3"}) {
      ScratchDir dir;
      std::filesystem::copy_file(g / "ORVUS_IN.TXT", dir.path / "ORVUS_IN.TXT");
      const bool example = g.filename() == "example";
      const std::filesystem::path inputs =
          example ? std::filesystem::path(ORVUS_EXAMPLES) : golden.parent_path();
      std::filesystem::copy_file(inputs / "finals2000A.data", dir.path / "finals2000A.data");
      for (const char* tle : {"amazonia1.tle", "tle/landsat8_2024.tle", "tle/amazonia1_2025.tle"}) {
        if (std::filesystem::exists(inputs / tle))
          std::filesystem::copy_file(inputs / tle,
                                     dir.path / std::filesystem::path(tle).filename());
      }
      const test::RunResult r = test::run_orvus(dir.path, env);
      const auto same = [](std::vector<std::string> a, std::vector<std::string> b) {
        std::erase_if(a, [](const std::string& l) { return l.find("EXECUTION TIME") != l.npos; });
        std::erase_if(b, [](const std::string& l) { return l.find("EXECUTION TIME") != l.npos; });
        return a == b;
      };
      std::vector<std::string> console;
      std::istringstream ss(r.output + "status " + std::to_string(r.status) + "\n");
      for (std::string l; std::getline(ss, l);) console.push_back(l);
      EXPECT_TRUE(same(console, read_lines((g / "console.txt").string()))) << g << " " << env;
      for (const char* f : {"ORVUS_v1.13_OUT1.TXT", "ORVUS_v1.13_OUT2.CSV", "ORVUS_v1.13_OUT3.CSV"})
        EXPECT_TRUE(same(read_lines(dir.file(f)), read_lines((g / f).string())))
            << g << " " << f << " " << env;
    }
  }
}

}  // namespace
}  // namespace orvus
