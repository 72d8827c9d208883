// orvus-plan's outputs under faults (a file-size limit, SIGTERM during --reports, a second
// planner on the folder, a deck that is not UTF-8): after each, the earlier outputs byte for
// byte or the whole new set, never a mix, and no temporaries; the reports' folders of ids
// that read alike; and every contact told alike by its times, the CSV, the GeoJSON and the
// reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "test_support.hpp"

namespace orvus {
namespace {

namespace fs = std::filesystem;
using test::data_path;
using test::ScratchDir;
using Files = std::map<std::string, std::string>;

// Ids whose safe forms collide, change or run long; each target's name is its own.
const std::vector<std::string> kIds = {"WIDE",
                                       "BSB",
                                       "SAO PAULO",
                                       "SAO/PAULO",
                                       "SAO_PAULO",
                                       "\"SAO,PAULO\"",
                                       "S\xC3\x83O PAULO",
                                       "foobar",
                                       "FOOBAR",
                                       std::string(300, 'x'),
                                       "sao_paulo"};

std::string deck() {
  std::string d = "id,name,lon1,lon2,lat1,lat2\n";
  for (std::size_t i = 0; i < kIds.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "TARGET %02zu", i + 1);
    // A wide box first: its reports run long and grow its OUT1 past the page.
    d += kIds[i] + "," + name + (i == 0 ? ",-80,-20,-60,0\n" : ",-47.5,-46.0,-24.0,-23.0\n");
  }
  return d;
}

std::string plan_text(const std::string& targets, const std::string& end,
                      const std::string& extra = "") {
  return "start = 2025-07-20T00:00:00\nend = " + end +
         "\nutc_offset_hours = -3\nstep_s = 1.0\nearth_orientation = \"" +
         data_path("finals2000A.data") + "\"\ntargets = \"" + targets +
         "\"\nrule = \"points\"\noutput = \"out\"\n\n[[satellite]]\nname = \"AMAZONIA 1\"\n"
         "elements = \"" +
         data_path("tle/amazonia1_2025.tle") + "\"\nalpha_deg = 0.0\nbeta_deg = 60.0\n" + extra;
}

Files snapshot(const fs::path& dir) {
  Files out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) {
      out[fs::relative(e.path(), dir).string()] = test::read_file(e.path().string());
    }
  return out;
}

bool temporaries_left(const fs::path& out) {
  return fs::exists(out / ".orvus-plan.tmp");
}

// orvus-plan on `plan` in `dir`, its output into `log`, under a file-size limit if given.
pid_t start_plan(const fs::path& dir, const std::string& plan, const std::string& log,
                 bool reports = true, rlim_t limit = 0) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGTERM, SIG_DFL);
    if (chdir(dir.c_str()) != 0) _exit(99);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    const rlimit r{limit, limit};
    if (limit > 0) setrlimit(RLIMIT_FSIZE, &r);
    execl(ORVUS_PLAN_BINARY, ORVUS_PLAN_BINARY, plan.c_str(), reports ? "--reports" : nullptr,
          static_cast<char*>(nullptr));
    _exit(98);
  }
  return pid;
}

// The exit status (128 + the signal that ended it) and the output.
test::RunResult finish(const fs::path& dir, pid_t pid, const std::string& log) {
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          test::read_file((dir / log).string())};
}

std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> f(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      f.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      f.emplace_back();
    } else {
      f.back() += c;
    }
  }
  return f;
}

TEST(PlanOutputs, FaultsLeaveTheEarlierSetOrTheWholeNewOne) {
  ScratchDir dir;
  dir.write("deck.csv", deck());
  dir.write("a.toml", plan_text("deck.csv", "2025-07-21T00:00:00"));
  // Another interval and no opportunity kept: every file it writes differs from a.toml's.
  dir.write("b.toml", plan_text("deck.csv", "2025-07-23T00:00:00",
                                "\n[constraints]\nmin_sun_elevation_deg = 90\n"));
  const fs::path out = dir.path / "out";
  const auto first = finish(dir.path, start_plan(dir.path, "a.toml", "log"), "log");
  ASSERT_EQ(first.status, 0) << first.output;
  const Files earlier = snapshot(out);

  // Folders: one per id, safe names under 100 bytes, each holding its own target's reports.
  std::map<std::string, std::string> folder_of;
  const std::vector<std::string> index = test::read_lines((out / "reports/index.csv").string());
  ASSERT_EQ(index.size(), kIds.size() + 1);
  EXPECT_EQ(index[0], "folder,satellite,target_id");
  for (std::size_t i = 1; i < index.size(); ++i) {
    const auto f = csv_fields(index[i]);
    ASSERT_EQ(f.size(), 3U) << index[i];
    EXPECT_EQ(f[1], "AMAZONIA 1");
    EXPECT_LE(f[0].size(), 100U);
    EXPECT_EQ(f[0].find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789-_."),
              std::string::npos);
    char name[32];
    std::snprintf(name, sizeof name, "TARGET %02zu", i);
    EXPECT_NE(earlier.at("reports/" + f[0] + "/ORVUS_v1.13_OUT1.TXT").find(name), std::string::npos)
        << f[0];
    folder_of[f[2]] = f[0];
  }
  std::set<std::string> distinct;
  for (const auto& [id, folder] : folder_of) distinct.insert(folder);
  EXPECT_EQ(distinct.size(), kIds.size());
  EXPECT_EQ(folder_of.count("SAO,PAULO"), 1U);
  EXPECT_EQ(folder_of["BSB"], "1-BSB");  // a safe id unique in any case stays as it is
  EXPECT_EQ(folder_of["foobar"], "1-foobar-bf9cf968");  // FNV-1a 32 of "foobar" (published)
  EXPECT_EQ(folder_of["S\xC3\x83O PAULO"].rfind("1-S_O_PAULO-", 0), 0U);

  // A file-size limit met early (the GeoJSON) and late (a report).
  for (const auto& [limit, file] :
       {std::pair<rlim_t, std::string>{2048, "out/opportunities.geojson"},
        {1200000, "out/reports/1-WIDE/ORVUS_v1.13_OUT1.TXT"}}) {
    const auto r = finish(dir.path, start_plan(dir.path, "b.toml", "log", true, limit), "log");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(file + "\": File too large."), std::string::npos) << r.output;
    EXPECT_EQ(snapshot(out), earlier) << file;
    EXPECT_FALSE(temporaries_left(out)) << file;
  }

  // SIGTERM while the reports are written; meanwhile a second planner stops at once.
  const pid_t pid = start_plan(dir.path, "b.toml", "log");
  const fs::path staged = out / ".orvus-plan.tmp/reports";
  bool under_way = false;
  for (int i = 0; i < 60000 && !under_way; ++i) {
    std::error_code ec;
    under_way = !fs::is_empty(staged, ec) && !ec;
    if (!under_way) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(under_way);
  kill(pid, SIGSTOP);
  const auto second = finish(dir.path, start_plan(dir.path, "b.toml", "log2"), "log2");
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.output.find("ANOTHER PLANNER IS WRITING TO THE OUTPUT FOLDER"),
            std::string::npos)
      << second.output;
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  const auto stopped = finish(dir.path, pid, "log");
  EXPECT_EQ(stopped.status, 128 + SIGTERM);
  EXPECT_NE(stopped.output.find("INTERRUPTED: THE EARLIER OUTPUTS ARE LEFT"), std::string::npos);
  EXPECT_EQ(snapshot(out), earlier);
  EXPECT_FALSE(temporaries_left(out));

  // A Latin-1 deck: refused (the earlier outputs kept) or planned whole (its files as a run
  // in a fresh folder writes them; reports/ is not this run's and stays).
  const std::string latin1 = "id,name,lon1,lon2,lat1,lat2\nSP,S\xC3O PAULO,-80,-20,-60,0\n";
  dir.write("latin1.csv", latin1);
  dir.write("c.toml", plan_text("latin1.csv", "2025-07-21T00:00:00"));
  fs::create_directory(dir.path / "fresh");
  dir.write("fresh/latin1.csv", latin1);
  dir.write("fresh/c.toml", plan_text("latin1.csv", "2025-07-21T00:00:00"));
  const auto latin = finish(dir.path, start_plan(dir.path, "c.toml", "log", false), "log");
  const auto fresh =
      finish(dir.path / "fresh", start_plan(dir.path / "fresh", "c.toml", "log", false), "log");
  Files now = snapshot(out);
  EXPECT_EQ(latin.status, fresh.status);
  if (latin.status == 0) {
    Files expected = earlier;
    for (const auto& [name, bytes] : snapshot(dir.path / "fresh/out")) expected[name] = bytes;
    EXPECT_EQ(now, expected);
  } else {
    EXPECT_EQ(now, earlier);
  }
  EXPECT_FALSE(temporaries_left(out));

  // A run that completes replaces the whole set, and clears what a killed run left.
  fs::create_directories(out / ".orvus-plan.tmp/reports/1-BSB");
  ASSERT_EQ(finish(dir.path, start_plan(dir.path, "b.toml", "log"), "log").status, 0);
  const Files after = snapshot(out);
  EXPECT_FALSE(temporaries_left(out));
  EXPECT_EQ(after.size(), earlier.size());
  for (const auto& [name, bytes] : after) {
    ASSERT_EQ(now.count(name), 1U) << name;
    if (name.find("OUT1") != std::string::npos || name.rfind("opportunities.", 0) == 0) {
      EXPECT_NE(bytes, now.at(name)) << name;
    }
  }
}

// ---- every closed contact told alike ------------------------------------------------------

// An ISO time of the CSV ("2025-07-02T13:11:45.123Z" or "...+05:45") as milliseconds of its
// own clock from 1970, and its offset in minutes.
std::int64_t iso_ms(const std::string& t, int& offset_min) {
  using namespace std::chrono;
  const int y = std::stoi(t.substr(0, 4)), mo = std::stoi(t.substr(5, 2)),
            d = std::stoi(t.substr(8, 2));
  const std::int64_t days =
      sys_days{year{y} / month{static_cast<unsigned>(mo)} / day{static_cast<unsigned>(d)}}
          .time_since_epoch()
          .count();
  const std::int64_t ms = ((std::stoll(t.substr(11, 2)) * 60 + std::stoll(t.substr(14, 2))) * 60 +
                           std::stoll(t.substr(17, 2))) *
                              1000 +
                          std::stoll(t.substr(20, 3));
  offset_min = t.size() == 24 ? 0
                              : (t[23] == '-' ? -1 : 1) *
                                    (std::stoi(t.substr(24, 2)) * 60 + std::stoi(t.substr(27, 2)));
  return days * 86400000 + ms;
}

// "2025-07-02T13:11:45.123-03:00" as the reports write it: "02/07/2025 13:11:45.123".
std::string report_time(const std::string& iso) {
  return iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4) + " " +
         iso.substr(11, 12);
}

// Each closed contact is one CSV row, one GeoJSON feature and one OUT2 row of its pair's
// reports: the three agree field by field, and within the row the local times are the UTC
// times moved by the offset and the duration is end minus start. Two satellites, boxes across
// +-180 and up to the pole, an offset of hours and minutes.
TEST(PlanOutputs, EveryClosedContactAgreesInItsTimesTheCsvTheGeoJsonAndTheReports) {
  ScratchDir dir;
  std::string plan =
      "start = 2025-07-20T00:00:00\nend = 2025-07-23T00:00:00\n"
      "utc_offset_hours = 5.75\nstep_s = 1.0\nearth_orientation = \"" +
      data_path("finals2000A.data") + "\"\ntargets = \"" + data_path("plan/deck.csv") +
      "\"\nrule = \"swath\"\noutput = \"out\"\n";
  for (const char* sat : {"AMAZONIA 1\"\nelements = \"tle/amazonia1_2025.tle",
                          "LANDSAT 8\"\nelements = \"tle/landsat8_2024.tle"}) {
    std::string s = sat;
    s.replace(s.find("tle/"), 4, data_path("tle/"));
    plan += "\n[[satellite]]\nname = \"" + s + "\"\nalpha_deg = 5.0\nbeta_deg = 40.0\n";
  }
  dir.write("plan.toml", plan + "\n[constraints]\nmin_sun_elevation_deg = -90\n");
  const auto run = test::run_command("cd '" + dir.path.string() + "' && '" + ORVUS_PLAN_BINARY +
                                     "' plan.toml --reports");
  ASSERT_EQ(run.status, 0) << run.output;

  const std::vector<std::string> lines = test::read_lines(dir.file("out/opportunities.csv"));
  const std::vector<std::string> header = csv_fields(lines.at(0));
  const auto col = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const nlohmann::json geojson =
      nlohmann::json::parse(test::read_file(dir.file("out/opportunities.geojson")));
  std::vector<nlohmann::json> features;
  for (const auto& f : geojson.at("features"))
    if (f.at("properties").at("kind") == "opportunity") features.push_back(f.at("properties"));
  ASSERT_EQ(features.size(), lines.size() - 1);
  ASSERT_GT(features.size(), 20U);

  // The reports' OUT2 rows of each pair, by satellite name and target id.
  std::map<std::pair<std::string, std::string>, std::vector<std::vector<std::string>>> out2;
  const auto index = test::read_lines(dir.file("out/reports/index.csv"));
  for (std::size_t i = 1; i < index.size(); ++i) {
    const auto f = csv_fields(index[i]);
    auto rows = test::read_lines(dir.file("out/reports/" + f[0] + "/ORVUS_v1.13_OUT2.CSV"));
    auto& pair = out2[{f[1], f[2]}];
    for (std::size_t k = 1; k < rows.size(); ++k) pair.push_back(csv_fields(rows[k]));
  }
  std::map<std::pair<std::string, std::string>, std::size_t> used;

  for (std::size_t r = 1; r < lines.size(); ++r) {
    const std::vector<std::string> row = csv_fields(lines[r]);
    ASSERT_EQ(row.size(), header.size()) << lines[r];
    const std::string& what = lines[r];
    int off = 0;
    for (const char* t : {"start", "end", "best_time"}) {
      const std::int64_t utc = iso_ms(row[col(t + std::string("_utc"))], off);
      EXPECT_EQ(off, 0) << what;
      const std::int64_t local = iso_ms(row[col(t + std::string("_local"))], off);
      EXPECT_EQ(off, 345) << what;
      EXPECT_EQ(local - utc, 345 * 60000) << t << ": " << what;
    }
    const double duration = std::stod(row[col("duration_s")]);
    EXPECT_EQ(iso_ms(row[col("end_utc")], off) - iso_ms(row[col("start_utc")], off),
              std::llround(duration * 1000))
        << what;
    EXPECT_GE(duration, 0.0) << what;

    const nlohmann::json& g = features[r - 1];
    for (std::size_t c = 0; c < header.size(); ++c) {
      const nlohmann::json& v = g.at(header[c]);
      if (v.is_string()) {
        EXPECT_EQ(v.get<std::string>(), row[c]) << header[c] << ": " << what;
      } else {  // the CSV rounds to its decimals
        const std::size_t point = row[c].find('.');
        const int decimals = point == std::string::npos ? 0 : int(row[c].size() - point - 1);
        EXPECT_NEAR(v.get<double>(), std::stod(row[c]), 0.5 * std::pow(10.0, -decimals) + 1e-9)
            << header[c] << ": " << what;
      }
    }

    const auto key = std::make_pair(row[col("satellite")], row[col("target_id")]);
    const auto& rows = out2[key];
    const std::size_t k = used[key]++;
    ASSERT_LT(k, rows.size()) << what;
    const std::vector<std::string>& o = rows[k];
    ASSERT_EQ(o.size(), 8U);
    EXPECT_EQ(std::stoi(o[0]), std::stoi(row[col("contact")])) << what;
    EXPECT_EQ(o[1], report_time(row[col("start_local")])) << what;
    EXPECT_EQ(o[2], report_time(row[col("end_local")])) << what;
    // OUT2 writes four significant digits.
    EXPECT_NEAR(std::stod(o[3]), duration, 0.5e-3 * duration + 1e-9) << what;
    EXPECT_EQ(o[4], report_time(row[col("best_time_local")])) << what;
    const double alpha = std::stod(row[col("best_alpha_deg")]);
    EXPECT_NEAR(std::stod(o[5]), alpha, 0.5e-3 * std::fabs(alpha) + 0.5e-4) << what;
    EXPECT_EQ(o[7], row[col("pass")]) << what;
  }
  for (const auto& [key, rows] : out2) EXPECT_EQ(used[key], rows.size()) << key.second;
}

// A run whose outputs would take an input's place (the same name in the output folder, a
// symbolic or hard link to an output, a file in the reports' or the temporary folder) is
// refused before anything is written, naming the file; a file that only bears an output's
// name elsewhere is no obstacle.
TEST(PlanOutputs, NoOutputTakesThePlaceOfAnInput) {
  const std::string deck_text = test::read_file(data_path("plan/brasilia.csv"));
  const std::string tle = data_path("tle/amazonia1_2025.tle");
  const std::string eop = data_path("finals2000A.data");
  struct Case {
    std::string plan_name, output, targets, elements, earth, refused;
    bool reports = false;
    std::function<void(const fs::path&)> setup;
  };
  const auto copy = [](const std::string& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to);
  };
  const std::vector<Case> cases = {
      {"plan.toml", ".", "passes.csv", tle, eop, "TARGET FILE \"passes.csv\"", false,
       [&](const fs::path& d) { copy(data_path("plan/brasilia.csv"), d / "passes.csv"); }},
      {"opportunities.csv", ".", "deck.csv", tle, eop, "PLAN FILE \"opportunities.csv\"", false,
       [&](const fs::path& d) { copy(data_path("plan/brasilia.csv"), d / "deck.csv"); }},
      // A link to what an output replaces; the schedule's files are removed by a run without
      // [schedule].
      {"plan.toml", "out", "deck.csv", "sat.tle", eop, "ELEMENT FILE \"sat.tle\"", false,
       [&](const fs::path& d) {
         copy(data_path("plan/brasilia.csv"), d / "deck.csv");
         copy(tle, d / "out/schedule.json");
         fs::create_symlink("out/schedule.json", d / "sat.tle");
       }},
      {"plan.toml", "out", "deck.csv", tle, "eop.data", "EARTH-ORIENTATION FILE \"eop.data\"",
       false,
       [&](const fs::path& d) {
         copy(data_path("plan/brasilia.csv"), d / "deck.csv");
         copy(eop, d / "eop.data");
         fs::create_directories(d / "out");
         fs::create_hard_link(d / "eop.data", d / "out/opportunities.html");
       }},
      {"plan.toml", "out", "out/reports/deck.csv", tle, eop, "\"out/reports\"", true,
       [&](const fs::path& d) {
         copy(data_path("plan/brasilia.csv"), d / "out/reports/deck.csv");
       }},
      {"plan.toml", "out", "out/.orvus-plan.tmp/deck.csv", tle, eop, "REMOVE ITS TARGET FILE",
       false,
       [&](const fs::path& d) {
         copy(data_path("plan/brasilia.csv"), d / "out/.orvus-plan.tmp/deck.csv");
       }},
      // Named like an output, but not in the output folder.
      {"plan.toml", "out", "passes.csv", tle, eop, "", true,
       [&](const fs::path& d) { copy(data_path("plan/brasilia.csv"), d / "passes.csv"); }},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    c.setup(dir.path);
    dir.write(c.plan_name,
              "start = 2025-07-20T00:00:00\nend = 2025-07-21T00:00:00\nutc_offset_hours = -3\n"
              "step_s = 1.0\nearth_orientation = \"" +
                  c.earth + "\"\ntargets = \"" + c.targets + "\"\noutput = \"" + c.output +
                  "\"\n\n[[satellite]]\nname = \"AMAZONIA 1\"\nelements = \"" + c.elements +
                  "\"\nalpha_deg = 0.0\nbeta_deg = 60.0\n");
    const Files before = snapshot(dir.path);
    const auto run =
        test::run_command("cd '" + dir.path.string() + "' && '" + ORVUS_PLAN_BINARY + "' '" +
                          c.plan_name + "'" + (c.reports ? " --reports" : "") + " 2>&1");
    if (c.refused.empty()) {
      EXPECT_EQ(run.status, 0) << run.output;
      EXPECT_EQ(dir.read("passes.csv"), deck_text);
      continue;
    }
    EXPECT_EQ(run.status, 1) << c.refused << ": " << run.output;
    EXPECT_NE(run.output.find(" THE RUN WOULD "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(c.refused), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" EXECUTION INTERRUPTED."), std::string::npos) << run.output;
    const Files after = snapshot(dir.path);
    std::string names;
    for (const auto& f : after) names += " " + f.first;
    EXPECT_TRUE(after == before) << c.refused << ": the folder holds" << names;
  }
}

// In every table of a run (opportunities, passes, schedule, coverage), every local time is
// its UTC time moved by the offset (of hours and minutes, west of Greenwich), and a pass
// lasts its LOS minus its AOS as written; and every table is the one written before.
TEST(PlanOutputs, EveryLocalTimeOfEveryTableIsItsUtcTimeMovedByTheOffset) {
  ScratchDir dir;
  const std::string agility =
      "camera_fov_deg = 10.0\nroll_rate_deg_s = 1.0\nsettle_s = 5.0\nrecorder_gbit = 30.0\n"
      "imaging_gbit_s = 0.5\n";
  std::string plan =
      "start = 2025-07-20T00:00:00\nend = 2025-07-23T00:00:00\n"
      "utc_offset_hours = -3.5\nstep_s = 1.0\nearth_orientation = \"" +
      data_path("finals2000A.data") + "\"\ntargets = \"" + data_path("plan/deck.csv") +
      "\"\nrule = \"swath\"\noutput = \"out\"\n" +
      "[schedule]\ntime_limit_s = 20\n[coverage]\ncell_km = 100\n";
  for (const char* sat : {"AMAZONIA 1\"\nelements = \"tle/amazonia1_2025.tle",
                          "LANDSAT 8\"\nelements = \"tle/landsat8_2024.tle"}) {
    std::string s = sat;
    s.replace(s.find("tle/"), 4, data_path("tle/"));
    plan += "\n[[satellite]]\nname = \"" + s + "\"\nalpha_deg = 0.0\nbeta_deg = 40.0\n" + agility;
  }
  for (const char* station : {"CUIABA\"\nlon = -56.07\nlat = -15.55\nalt_m = 240",
                              "SVALBARD\"\nlon = 15.41\nlat = 78.23\nalt_m = 450"}) {
    plan += "\n[[station]]\nname = \"" + std::string(station) +
            "\nmin_elevation_deg = 5\ndownlink_gbit_s = 0.3\n";
  }
  dir.write("plan.toml", plan);
  const auto run = test::run_command("cd '" + dir.path.string() + "' && '" + ORVUS_PLAN_BINARY +
                                     "' plan.toml 2>&1");
  ASSERT_EQ(run.status, 0) << run.output;
  // Every table as the writers before the one description of the columns wrote it (the
  // schedule is proven optimal, so it is the same schedule whatever the timing).
  for (const char* file :
       {"opportunities.csv", "passes.csv", "schedule.csv", "unscheduled.csv", "schedule.geojson",
        "coverage.csv", "coverage_cells.csv", "coverage_summary.csv"}) {
    EXPECT_EQ(test::read_file(dir.file(std::string("out/") + file)),
              test::read_file(data_path(std::string("plan/run_files/") + file)))
        << file;
  }

  std::map<std::string, std::size_t> checked;  // local times, by table
  for (const auto& entry : fs::directory_iterator(dir.path / "out")) {
    if (entry.path().extension() != ".csv") continue;
    const std::string table = entry.path().filename().string();
    const std::vector<std::string> lines = test::read_lines(entry.path().string());
    const std::vector<std::string> header = csv_fields(lines.at(0));
    const auto col = [&](const std::string& name) {
      return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                      header.begin());
    };
    for (std::size_t r = 1; r < lines.size(); ++r) {
      const std::vector<std::string> row = csv_fields(lines[r]);
      ASSERT_EQ(row.size(), header.size()) << table << ": " << lines[r];
      for (std::size_t c = 0; c < header.size(); ++c) {
        const std::string& name = header[c];
        if (name.size() < 6 || name.compare(name.size() - 6, 6, "_local") != 0) continue;
        const std::size_t u = col(name.substr(0, name.size() - 6) + "_utc");
        ASSERT_LT(u, header.size()) << table << ": " << name << " has no UTC column";
        int off = 0;
        const std::int64_t utc = iso_ms(row[u], off);
        EXPECT_EQ(off, 0) << table << ": " << lines[r];
        const std::int64_t local = iso_ms(row[c], off);
        EXPECT_EQ(off, -210) << table << ": " << lines[r];
        EXPECT_EQ(local - utc, -210 * 60000) << table << ", " << name << ": " << lines[r];
        ++checked[table];
      }
      if (table == "passes.csv") {
        int off = 0;
        const std::int64_t ms = iso_ms(row[col("los_utc")], off) - iso_ms(row[col("aos_utc")], off);
        EXPECT_EQ(std::llround(std::stod(row[col("duration_s")]) * 1000), ms) << lines[r];
      }
    }
  }
  // Every table with local times holds some (the schedule's: the start and the end of each
  // acquisition).
  EXPECT_GT(checked["opportunities.csv"], 60U);
  EXPECT_GT(checked["passes.csv"], 40U);
  EXPECT_GE(checked["schedule.csv"], 4U);
  EXPECT_TRUE(fs::exists(dir.path / "out/coverage_summary.csv"));
}

}  // namespace
}  // namespace orvus
