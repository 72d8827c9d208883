// A catalogue of malformed inputs across the input file, the element file and the
// Earth-orientation file: each ends with its message and a non-zero status, or, where the
// input is valid after all, with the reports of the well-formed run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "legacy/routines.hpp"
#include "legacy/run.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::read_file;
using test::read_lines;
using test::ScratchDir;

const char* kTle = "landsat8_2024.tle";

struct Files {
  std::vector<std::string> input = {"LANDSAT 8",
                                    "SOUTH AMERICA",
                                    "-3",
                                    "-75.0, -30.0, -35.0, 5.0",
                                    kTle,
                                    "10.0, 20.0",
                                    "07/10/2024 00:00:00.000000000",
                                    "08/10/2024 00:00:00.000000000",
                                    "30"};
  std::vector<std::string> tle;
  std::vector<std::string> finals;  // empty: the real file
  std::string tle_name = kTle;
  std::string eol = "\n";
  std::string finals_text;  // used as it is when not empty
  std::string input_text;   // likewise
  std::string tle_text;     // likewise
};

std::string join(const std::vector<std::string>& lines, const std::string& eol) {
  std::string out;
  for (const auto& l : lines) out += l + eol;
  return out;
}

Files base() {
  Files f;
  f.tle = read_lines(data_path(std::string("tle/") + kTle));
  return f;
}

struct Outcome {
  test::RunResult run;
  std::vector<std::string> out2_rows;  // OUT2 without its header line
};

Outcome run(const Files& f) {
  ScratchDir dir;
  dir.write(kInputFile,
            f.input_text.empty() && !f.input.empty() ? join(f.input, f.eol) : f.input_text);
  dir.write(f.tle_name, f.tle_text.empty() ? join(f.tle, f.eol) : f.tle_text);
  if (!f.finals_text.empty() || !f.finals.empty()) {
    dir.write("finals2000A.data", f.finals_text.empty() ? join(f.finals, f.eol) : f.finals_text);
  } else {
    std::filesystem::create_symlink(data_path("finals2000A.data"), dir.path / "finals2000A.data");
  }
  Outcome o;
  o.run = test::run_orvus(dir.path);
  auto rows = read_lines(dir.file(kOut2File));
  if (!rows.empty()) rows.erase(rows.begin());
  o.out2_rows = rows;
  return o;
}

// A real finals line with its MJD and flags.
std::vector<std::string> finals_lines() {
  return read_lines(data_path("finals2000A.data"));
}

// Element line with its checksum digit made to match again.
std::string recheck(std::string line) {
  int sum = 0;
  for (std::size_t i = 0; i < 68 && i < line.size(); ++i) {
    if (line[i] >= '0' && line[i] <= '9') sum += line[i] - '0';
    if (line[i] == '-') sum += 1;
  }
  line.resize(69, ' ');
  line[68] = static_cast<char>('0' + sum % 10);
  return line;
}

struct Case {
  std::string name;
  std::function<void(Files&)> edit;
  std::string message;  // expected in the console; empty: a valid run like the base one
};

TEST(MalformedInput, Catalogue) {
  const Outcome good = run(base());
  ASSERT_EQ(good.run.status, 0) << good.run.output;
  ASSERT_GE(good.out2_rows.size(), 2u);

  const auto finals = finals_lines();
  const std::string seventy(70 - 4, 'e');  // a 70-character name with ".tle"
  const std::vector<Case> cases = {
      // --- the input file ---
      {"empty input file", [](Files& f) { f.input.clear(); }, "RECORD 1 (SATELLITE NAME)"},
      {"input cut after record 4", [](Files& f) { f.input.resize(4); }, "RECORD 5"},
      {"record 4 short at end of file",
       [](Files& f) {
         f.input.resize(4);
         f.input[3] = "-75.0 -30.0 -35.0";
       },
       "END OF FILE: 4 VALUE(S) EXPECTED, 3 FOUND."},
      {"NaN latitude", [](Files& f) { f.input[3] = "-75.0, -30.0, NaN, 5.0"; },
       "\"NaN\" IS NOT A FINITE NUMBER."},
      {"Inf angle", [](Files& f) { f.input[5] = "Inf 0"; }, "\"Inf\" IS NOT A FINITE NUMBER."},
      {"-Infinity angle", [](Files& f) { f.input[5] = "-Infinity, 0"; },
       "\"-Infinity\" IS NOT A FINITE NUMBER."},
      {"step too large to hold", [](Files& f) { f.input[8] = "1e999"; }, "RECORD 9 (STEP)"},
      {"huge latitude", [](Files& f) { f.input[3] = "-75.0, -30.0, -1e300, 5.0"; },
       "LATITUDES MUST LIE BETWEEN -90 AND 90"},
      {"negative step", [](Files& f) { f.input[8] = "-30"; }, "THE TIME STEP MUST BE POSITIVE"},
      {"zero step", [](Files& f) { f.input[8] = "0.0"; }, "THE TIME STEP MUST BE POSITIVE"},
      {"date 31/02", [](Files& f) { f.input[6] = "31/02/2024 00:00:00.000000000"; },
       " MESSAGE FROM INSTDJM3 SUBROUTINE: \n ERROR: INVALID CALENDAR DATE!"},
      {"99-hour time", [](Files& f) { f.input[7] = "08/10/2024 99:00:00.000000000"; },
       " MESSAGE FROM INSTDJM3 SUBROUTINE: \n ERROR: SECONDS OF THE DAY GREATER THAN 24H!"},
      {"letter in a date", [](Files& f) { f.input[6] = "07/1O/2024 00:00:00.000000000"; },
       "COLUMNS 4-5"},
      {"non-ASCII byte in a number", [](Files& f) { f.input[5] = "10.0\xC2\xA0, 20.0"; },
       "IS NOT A FINITE NUMBER."},
      {"time difference of 99 hours", [](Files& f) { f.input[2] = "99"; },
       "BETWEEN -24 AND 24 HOURS"},
      {"looking past the horizon", [](Files& f) { f.input[5] = "85.0, 20.0"; },
       "RECORD 6 (ALPHA, BETA)"},
      {"empty value", [](Files& f) { f.input[5] = "10.0,,20.0"; }, "EMPTY VALUE BETWEEN COMMAS."},
      {"element file name cut at 70 characters",
       [&](Files& f) { f.input[4] = seventy + ".tle.old"; },
       " READ_2LINES: CANNOT OPEN THE TWO-LINE ELEMENT FILE \"" + seventy + ".tle\""},
      // valid after all
      {"start given without its time", [](Files& f) { f.input[6] = "07/10/2024"; }, ""},
      {"tabs between numbers", [](Files& f) { f.input[3] = "-75.0\t-30.0\t-35.0\t5.0"; }, ""},
      {"CRLF line ends everywhere", [](Files& f) { f.eol = "\r\n"; }, ""},
      {"trailing blanks",
       [](Files& f) {
         for (auto& l : f.input) l += "   ";
         for (auto& l : f.tle) l += "  ";
       },
       ""},
      {"extra values after the step", [](Files& f) { f.input[8] = "30, 40, junk"; }, ""},
      {"a record continued on the next line",
       [](Files& f) {
         f.input[3] = "-75.0, -30.0,";
         f.input.insert(f.input.begin() + 4, "-35.0, 5.0");
       },
       ""},
      {"non-ASCII satellite name", [](Files& f) { f.input[0] = "SAT\xC3\x89LITE \xE2\x80\x94 8"; },
       ""},
      {"element file name of 70 characters",
       [&](Files& f) {
         f.input[4] = seventy + ".tle";
         f.tle_name = seventy + ".tle";
       },
       ""},
      {"element file name with spaces",
       [](Files& f) {
         f.input[4] = "landsat 8 elements.tle";
         f.tle_name = "landsat 8 elements.tle";
       },
       ""},
      // --- the element file ---
      {"empty element file", [](Files& f) { f.tle.clear(); },
       " READ_2LINES: ERROR READING \"landsat8_2024.tle\":\n END OF FILE BEFORE THE TITLE LINE"},
      {"element file without line 2", [](Files& f) { f.tle.resize(2); },
       "END OF FILE BEFORE ELEMENT LINE 2"},
      {"swapped element lines", [](Files& f) { std::swap(f.tle[1], f.tle[2]); },
       "IS NOT ELEMENT LINE 1"},
      {"element line cut short", [](Files& f) { f.tle[2] = f.tle[2].substr(0, 60); },
       " READ_2LINE: Check sum of second line unmatched!"},
      {"tab inside the B* field",
       [](Files& f) {
         f.tle[1][55] = '\t';
         f.tle[1] = recheck(f.tle[1]);
       },
       "COLUMNS 54-59"},
      {"zero mean motion",
       [](Files& f) { f.tle[2] = recheck(f.tle[2].substr(0, 52) + " 0.00000000" + "61966"); },
       "MEAN MOTION (COLUMNS 53-63) NOT POSITIVE"},
      {"epoch day of year 0.5",
       [](Files& f) { f.tle[1] = recheck(f.tle[1].replace(20, 12, "000.50000000")); },
       "EPOCH DAY OF YEAR OUT OF RANGE"},
      {"non-ASCII title line", [](Files& f) { f.tle[0] = "LANDSAT \xE2\x80\x94 8"; }, ""},
      // --- the Earth-orientation file ---
      {"empty Earth-orientation file", [](Files& f) { f.finals_text = " "; },
       "HAS NO USABLE RECORD"},
      {"Earth-orientation file cut off by a failed download",
       [&](Files& f) {
         // Up to the interval's last day, its record cut in the middle.
         for (const auto& l : finals) {
           f.finals.push_back(l);
           if (l.substr(7, 8) == "60591.00") break;
         }
         f.finals.back() = f.finals.back().substr(0, 40);
       },
       "ERRO NA SUBROTINA LOCATE_IERS_DATA: \nTEMPO JULIANO MODIFICADO 60591 NAO LOCALIZADO\n"
       "EXECUCAO INTERROMPIDA!"},
      {"flags that stop early",
       [&](Files& f) {
         for (const auto& l : finals) {
           std::string line = l;
           if (l.substr(7, 8) == "60591.00") line[16] = ' ';
           f.finals.push_back(line);
         }
       },
       "TEMPO JULIANO MODIFICADO 60591 NAO LOCALIZADO"},
      {"flags that stop after the interval",
       [&](Files& f) {
         for (const auto& l : finals) {
           std::string line = l;
           if (l.substr(7, 8) == "60600.00") line[16] = ' ';
           f.finals.push_back(line);
         }
       },
       ""},
      {"letter in a pole coordinate",
       [&](Files& f) {
         f.finals = finals;
         f.finals[5][22] = 'x';
       },
       "LINE 6, COLUMNS 19-27"},
      {"tab in the Earth-orientation file",
       [&](Files& f) {
         f.finals = finals;
         f.finals[0][62] = '\t';
       },
       "LINE 1, COLUMNS 59-68"},
      {"non-ASCII byte in the Earth-orientation file",
       [&](Files& f) {
         f.finals = finals;
         f.finals[2][40] = '\xE9';
       },
       "\\xE9"},
      {"CRLF Earth-orientation file",
       [&](Files& f) {
         f.finals = finals;
         f.eol = "\r\n";
       },
       ""},
  };
  ASSERT_GE(cases.size(), 30u);
  for (const Case& c : cases) {
    Files f = base();
    c.edit(f);
    const Outcome o = run(f);
    if (c.message.empty()) {
      EXPECT_EQ(o.run.status, 0) << c.name << "\n" << o.run.output;
      EXPECT_EQ(o.out2_rows, good.out2_rows) << c.name;
    } else {
      EXPECT_EQ(o.run.status, 1) << c.name;  // a fatal error, not a crash
      EXPECT_NE(o.run.output.find(c.message), std::string::npos)
          << c.name << ": expected \"" << c.message << "\" in\n"
          << o.run.output;
      EXPECT_EQ(o.run.output.find("REPORTS CREATED"), std::string::npos) << c.name;
    }
  }
}

}  // namespace
}  // namespace orvus
