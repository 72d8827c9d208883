// What the commands beside orvus use of the program: its file names, its run parameters
// read from an input file, its three reports of a planner's satellite and target, and the
// main program. Only public headers of the library are included here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "orvus/earth_orientation.hpp"
#include "orvus/plan.hpp"
#include "orvus/time.hpp"
#include "orvus/version.hpp"

namespace orvus {

inline constexpr const char* kInputFile = "ORVUS_IN.TXT";
inline constexpr const char* kOut1File = "ORVUS_v" ORVUS_VERSION "_OUT1.TXT";
inline constexpr const char* kOut2File = "ORVUS_v" ORVUS_VERSION "_OUT2.CSV";
inline constexpr const char* kOut3File = "ORVUS_v" ORVUS_VERSION "_OUT3.CSV";

// Run parameters (degrees, hours, seconds) and the values derived from them.
struct RunParams {
  std::string SAT_NAME;  // 50 characters
  std::string LOC_NAME;  // 70 characters
  double UTC_DIFF = 0.0;
  double LON1 = 0.0, LAT1 = 0.0, LON2 = 0.0, LAT2 = 0.0;
  std::string TLE_FILE;  // 70 characters
  double ALPHA = 0.0, BETA = 0.0;
  std::string START_LOCAL;  // 29 characters
  std::string END_LOCAL;    // 29 characters
  double STEP = 0.0;

  double GC_LON1 = 0.0, GC_LAT1 = 0.0, GC_LON2 = 0.0, GC_LAT2 = 0.0;
  double CEN_GC_LON = 0.0, CEN_GC_LAT = 0.0;
  double CEN_LON = 0.0, CEN_LAT = 0.0;
  double START_DAY = 0.0, START_SEC = 0.0, END_DAY = 0.0, END_SEC = 0.0;
  DateText START_UTC{}, END_UTC{};
  double ALPHA0 = 0.0, ALPHA1 = 0.0, ALPHA2 = 0.0;
  std::int16_t SAT_LEN = 0, LOC_LEN = 0;
};

// Reads records 1 to 9 of the input file `path` as orvus reads them and derives the box, the
// UTC interval and the names' lengths. False when the file cannot be opened; raises Fatal
// naming the file, the record and the line on bad input.
bool read_run_file(const std::string& path, RunParams& p);

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct ReportFiles {
  FilePtr out1, out2, out3;
  // The reports the streams stand for, for messages; empty where a caller did not name them.
  std::string name1, name2, name3;
};

// The three reports of satellite `sat` over target `target` of `plan` (a polygon by its
// bounding box and its own centre), as orvus writes them for the same box, sensor and
// interval, into the open streams of `files`; the execution time is the time taken here.
// Raises Error where the search stops; the caller checks the streams.
void write_plan_reports(const Plan& plan, const EarthOrientation& eop, std::size_t sat,
                        std::size_t target, const ReportFiles& files);

// The main program, run in the working directory. Raises Fatal on every fatal condition.
void ORVUS();

}  // namespace orvus
