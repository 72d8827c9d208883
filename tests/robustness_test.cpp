// Runs that fail, are interrupted or compete: the earlier reports survive untouched (or,
// for a fatal error during the search, are replaced by the reports as far as written), no
// temporary file is left behind, and the run ends with its message and status 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "legacy/routines.hpp"
#include "legacy/run.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::ScratchDir;

const char* const kTmp[] = {"ORVUS_v1.13_OUT1.TXT.tmp", "ORVUS_v1.13_OUT2.CSV.tmp",
                            "ORVUS_v1.13_OUT3.CSV.tmp"};

// Element line with its checksum digit (column 69) made to match again.
std::string recheck(std::string line) {
  int sum = 0;
  for (std::size_t i = 0; i < 68; ++i)
    sum += line[i] == '-' ? 1 : std::isdigit(line[i]) ? line[i] - '0' : 0;
  line[68] = static_cast<char>('0' + sum % 10);
  return line;
}

struct Dir {
  ScratchDir dir;
  std::vector<std::string> input = {"LANDSAT 8",
                                    "SOUTH AMERICA",
                                    "-3",
                                    "-75.0, -30.0, -35.0, 5.0",
                                    "l8.tle",
                                    "10.0, 20.0",
                                    "07/10/2024 00:00:00.000000000",
                                    "08/10/2024 00:00:00.000000000",
                                    "30"};
  std::vector<std::string> tle = test::read_lines(test::data_path("tle/landsat8_2024.tle"));
  Dir() {
    std::filesystem::create_symlink(test::data_path("finals2000A.data"),
                                    dir.path / "finals2000A.data");
  }
  void write() const {
    std::string in, t;
    for (const auto& l : input) in += l + "\n";
    for (const auto& l : tle) t += l + "\n";
    dir.write(kInputFile, in);
    dir.write("l8.tle", t);
  }
  std::string reports() const {
    return dir.read(kOut1File) + dir.read(kOut2File) + dir.read(kOut3File);
  }
  bool temporaries_left() const {
    for (const char* t : kTmp) {
      if (std::filesystem::exists(dir.path / t)) return true;
    }
    return false;
  }
};

struct Case {
  Case(std::string n, std::function<void(Dir&)> e, std::string m, bool keeps = true,
       std::string prefix = "", bool compare = false)
      : name(std::move(n)),
        edit(std::move(e)),
        message(std::move(m)),
        keeps_reports(keeps),
        shell_prefix(std::move(prefix)),
        compare_plain(compare) {}
  std::string name;
  std::function<void(Dir&)> edit;
  std::string message;
  bool keeps_reports;        // false: a fatal error during the search rewrites them
  std::string shell_prefix;  // run under these shell commands
  bool compare_plain;        // the plain search must stop at the same step
};

TEST(Robustness, FailedRunsKeepOrReplaceTheReportsAsTheyShould) {
  const std::vector<Case> cases = {
      {"write error (file-size limit)", [](Dir&) {},
       "CANNOT WRITE THE REPORT FILE \"ORVUS_v1.13_OUT1.TXT\"", true, "ulimit -f 2;"},
      {"typo in record 9", [](Dir& d) { d.input[8] = "3O"; }, "RECORD 9 (STEP)"},
      {"missing Earth-orientation file",
       [](Dir& d) { std::filesystem::remove(d.dir.path / "finals2000A.data"); },
       "CANNOT OPEN THE EARTH-ORIENTATION FILE"},
      {"input is a directory",
       [](Dir& d) {
         std::filesystem::remove(d.dir.path / kInputFile);
         std::filesystem::create_directory(d.dir.path / kInputFile);
       },
       "\"ORVUS_IN.TXT\" IS A DIRECTORY"},
      {"input linked to /dev/zero",
       [](Dir& d) {
         std::filesystem::remove(d.dir.path / kInputFile);
         std::filesystem::create_symlink("/dev/zero", d.dir.path / kInputFile);
       },
       "\"ORVUS_IN.TXT\" IS NOT A REGULAR FILE"},
      {"line over 64 KiB", [](Dir& d) { d.input[1] = std::string(70000, 'x'); },
       "LINE 2:\n THE LINE IS LONGER THAN 65536 CHARACTERS."},
      {"step below 1 ms", [](Dir& d) { d.input[8] = "0.0009"; }, "MUST BE AT LEAST 0.001 S"},
      // Landsat 8, 14.571 rev/day: Kepler's third law gives a = 7083 km, and
      // asin(6356.75 / 7083.5) = 63.8 deg; the Brouwer mean axis (a few km less) 63.899.
      {"edge of the view past the horizon", [](Dir& d) { d.input[5] = "0, 150"; }, "WITHIN 63.8"},
      {"view beside the Earth", [](Dir& d) { d.input[5] = "70, 10"; }, "WITHIN 63.8"},
      {"angles printed as the reports print them", [](Dir& d) { d.input[5] = "40, 83.54"; },
       "(GIVEN: -1.7700 AND 81.7700)"},
      {"geostationary element set",
       [](Dir& d) { d.tle[2] = recheck(d.tle[2].replace(52, 11, " 1.00270000")); },
       "HAS A PERIOD OF 1436."},
      {"inclination 180 deg",
       [](Dir& d) { d.tle[2] = recheck(d.tle[2].replace(8, 8, "180.0000")); },
       "GIVES NO FINITE POSITION AT LOCAL TIME 07/10/2024 00:00:00.000"},
      {"perigee inside the Earth",
       [](Dir& d) {
         d.tle[2] = recheck(d.tle[2].replace(26, 7, "1500000"));
         d.input[5] = "0, 10";
       },
       "KM BELOW THE EARTH'S SURFACE AT LOCAL TIME 07/10/2024 00:31:00.000", false, "", true},
      {"day missing from the Earth-orientation table",
       [](Dir& d) { d.input[7] = "08/10/2099 00:00:00.000000000"; }, "NAO LOCALIZADO", false},
  };
  for (const Case& c : cases) {
    Dir d;
    d.write();
    ASSERT_EQ(test::run_orvus(d.dir.path).status, 0) << c.name;
    const std::string earlier = d.reports();
    c.edit(d);
    if (std::filesystem::is_regular_file(d.dir.path / kInputFile)) d.write();
    const auto r = test::run_command("cd '" + d.dir.path.string() + "' && " + c.shell_prefix +
                                     " '" + ORVUS_BINARY + "'");
    EXPECT_EQ(r.status, 1) << c.name << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << "\n" << r.output;
    EXPECT_EQ(r.output.find("REPORTS CREATED"), std::string::npos) << c.name;
    EXPECT_EQ(d.reports() == earlier, c.keeps_reports) << c.name;
    EXPECT_FALSE(d.temporaries_left()) << c.name;
    if (c.compare_plain) {  // the reports as far as written, by both searches alike
      const std::string screened = test::comparable_output(d.dir.path, r);
      const auto plain = test::run_orvus(d.dir.path, "ORVUS_SEARCH=plain");
      EXPECT_EQ(screened, test::comparable_output(d.dir.path, plain)) << c.name;
    }
  }
}

// Starts the program in `dir` with default signal actions; its process id.
pid_t start_orvus(const std::filesystem::path& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (chdir(dir.c_str()) != 0) _exit(99);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    setenv("ORVUS_SEARCH", "plain", 1);  // a few seconds: long enough to be interrupted
    execl(ORVUS_BINARY, ORVUS_BINARY, static_cast<char*>(nullptr));
    _exit(98);
  }
  return pid;
}

TEST(Robustness, InterruptedAndCompetingRunsLeaveTheEarlierReports) {
  Dir d;
  d.input[8] = "1";
  d.write();
  ASSERT_EQ(test::run_orvus(d.dir.path).status, 0);
  const std::string earlier = d.reports();
  for (const int sig : {SIGINT, SIGTERM, SIGKILL}) {
    const pid_t pid = start_orvus(d.dir.path);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    // A second run in the directory meanwhile stops at once.
    const auto second = test::run_orvus(d.dir.path);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.output.find("ANOTHER ORVUS RUN IS USING THIS DIRECTORY"), std::string::npos);
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_EQ(d.reports(), earlier) << sig;
    EXPECT_EQ(d.temporaries_left(), sig == SIGKILL) << sig;
  }
  // The next run clears what SIGKILL left.
  d.input[8] = "30";
  d.write();
  EXPECT_EQ(test::run_orvus(d.dir.path).status, 0);
  EXPECT_FALSE(d.temporaries_left());
}

}  // namespace
}  // namespace orvus
