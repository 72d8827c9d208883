// The program's routines and their words (src/legacy) on the cases of the core's tests: the
// element-set record the two-line reader fills, and the messages the program prints for the
// core's errors.
#include "legacy/routines.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/elements/two_line_file.hpp"
#include "core/time/eop.hpp"
#include "core/time/eop_table.hpp"
#include "core/time/time_text.hpp"
#include "orbit_setup.hpp"
#include "test_support.hpp"
#include "two_line_text.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::fatal_lines;
using test::ScratchDir;
using test::with_checksum;

std::string field70(const std::string& name) {
  std::string f = name;
  f.resize(70, ' ');
  return f;
}

// Days from 1950-01-01 to a calendar date, by the standard library's calendar.
double days_since_1950(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  const sys_days date = year{y} / month{m} / day{d};
  const sys_days base = year{1950} / January / 1;
  return static_cast<double>((date - base).count());
}

TEST(ElementReader, RealElementSetsHaveTheirEpochs) {
  struct Case {
    const char* file;
    int year;
    unsigned month, day;
    double fraction;
  };
  // Day of year by hand: 2024 day 280 = 6 October (leap year), 2025 day 205 = 24 July,
  // 1980 day 275 = 1 October (leap year).
  const Case cases[] = {{"tle/landsat8_2024.tle", 2024, 10, 6, 0.79344377},
                        {"tle/amazonia1_2025.tle", 2025, 7, 24, 0.73369244},
                        {"tle/str3_88888.tle", 1980, 10, 1, 0.98708465}};
  for (const auto& c : cases) {
    TLE_ELSET e{};
    e = to_tle_elset(read_two_line_file(field70(data_path(c.file))));
    EXPECT_EQ(e.EPOCH_DAY, days_since_1950(c.year, c.month, c.day)) << c.file;
    EXPECT_NEAR(e.EPOCH_SEC, c.fraction * 86400.0, 1e-6) << c.file;
  }
  // Landsat 8 by hand: 2024-01-01 is MJD 60310, so day number 60310 - 33282 + 279 = 27307.
  TLE_ELSET e{};
  e = to_tle_elset(read_two_line_file(field70(data_path("tle/landsat8_2024.tle"))));
  EXPECT_EQ(e.EPOCH_DAY, 27307.0);
  EXPECT_EQ(std::string(e.SATNAME, 9), "LANDSAT 8");
  EXPECT_EQ(e.REVNUM, 61966);
  EXPECT_NEAR(e.ELEM[0], 14.57116925 * 2 * M_PI / 86400.0, 1e-15);
  EXPECT_DOUBLE_EQ(e.ELEM[1], 0.0001313);
  EXPECT_NEAR(e.ELEM[2], 98.2180 * M_PI / 180.0, 1e-12);
  EXPECT_EQ(e.ELEM[6], 0.0);
  EXPECT_EQ(e.ELEM[7], 0.0);
  EXPECT_DOUBLE_EQ(e.ELEM[8], 0.56051e-3);
}

TEST(ElementReader, FieldRulesAndYearWindow) {
  ScratchDir dir;
  // Year 56 -> 2056, 57 -> 1957; day 1.5 of 2000 -> day number 18262 and 43200 s;
  // B* "-11606-4" -> -0.11606e-4; an eccentricity with its own decimal point is read as written.
  const std::string l2 =
      with_checksum("2 00005  34.2682 348.7242.1859667 331.7664  19.3264 10.82419157413667");
  const auto write = [&](const std::string& epoch, const std::string& bstar) {
    const std::string l1 =
        with_checksum("1 00005U 58002B   " + epoch + "  .00000023  00000-0 " + bstar + " 0  999");
    dir.write("e.tle",
              std::string("TITLE LINE THAT IS LONGER THAN FIFTY CHARACTERS, CUT HERE XX\n") + l1 +
                  "\n" + l2 + "\n");
    TLE_ELSET e{};
    e = to_tle_elset(read_two_line_file(field70(dir.file("e.tle"))));
    return e;
  };
  TLE_ELSET e = write("00001.50000000", "-11606-4");
  EXPECT_EQ(e.EPOCH_DAY, 18262.0);
  EXPECT_EQ(e.EPOCH_SEC, 43200.0);
  EXPECT_DOUBLE_EQ(e.ELEM[8], -0.11606e-4);
  EXPECT_DOUBLE_EQ(e.ELEM[1], 0.1859667);
  EXPECT_EQ(std::string(e.SATNAME, 50),
            std::string("TITLE LINE THAT IS LONGER THAN FIFTY CHARACTERS, C"));
  e = write("56001.00000000", " 11606-4");
  EXPECT_EQ(e.EPOCH_DAY, days_since_1950(2056, 1, 1));
  EXPECT_DOUBLE_EQ(e.ELEM[8], 0.11606e-4);
  e = write("57001.00000000", "+11606+4");
  EXPECT_EQ(e.EPOCH_DAY, days_since_1950(1957, 1, 1));
  EXPECT_DOUBLE_EQ(e.ELEM[8], 0.11606e4);
}

TEST(ElementReader, BadFilesStopWithAClearMessage) {
  ScratchDir dir;
  std::ifstream in(data_path("tle/landsat8_2024.tle"));
  std::string l0, l1, l2;
  std::getline(in, l0);
  std::getline(in, l1);
  std::getline(in, l2);
  // The reader's messages as the program prints them.
  const auto read = [&](const std::string& content) {
    dir.write("bad.tle", content);
    return fatal_lines([&] {
      try {
        (void)read_two_line_file(field70(dir.file("bad.tle")));
      } catch (const Error& e) {
        throw program_error(e);
      }
    });
  };

  auto lines = fatal_lines([&] {
    TLE_ELSET e{};
    e = to_tle_elset(read_two_line_file(field70(dir.file("missing.tle"))));
  });
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("missing.tle"), std::string::npos);

  lines = read(l0 + "\n" + l1 + "\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("bad.tle"), std::string::npos);
  EXPECT_NE(lines[1].find("LINE 3"), std::string::npos);
  EXPECT_FALSE(read("").empty());

  std::string bad1 = l1;
  bad1[68] = bad1[68] == '9' ? '0' : static_cast<char>(bad1[68] + 1);
  EXPECT_EQ(read(l0 + "\n" + bad1 + "\n" + l2 + "\n"),
            std::vector<std::string>{" READ_2LINE: Check sum of first line unmatched!"});
  std::string bad2 = l2;
  bad2[68] = bad2[68] == '9' ? '0' : static_cast<char>(bad2[68] + 1);
  EXPECT_EQ(read(l0 + "\n" + l1 + "\n" + bad2 + "\n"),
            std::vector<std::string>{" READ_2LINE: Check sum of second line unmatched!"});
  // A line cut short: the missing columns read as blanks and the checksum no longer matches.
  EXPECT_EQ(read(l0 + "\n" + l1.substr(0, 40) + "\n" + l2 + "\n"),
            std::vector<std::string>{" READ_2LINE: Check sum of first line unmatched!"});
  // Swapped element lines: line 1 in the place of line 2 has its own checksum, but its
  // fields are not those of line 2 and the epoch field holds a letter.
  EXPECT_FALSE(read(l0 + "\n" + l2 + "\n" + l1 + "\n").empty());

  // A letter in the mean motion field (checksum made to match): line and columns named.
  std::string nan2 = l2;
  nan2[55] = 'X';
  lines = read(l0 + "\n" + l1 + "\n" + with_checksum(nan2.substr(0, 68)) + "\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("LINE 3"), std::string::npos);
  EXPECT_NE(lines[0].find("COLUMNS 53-63"), std::string::npos);
  // A non-digit checksum column.
  std::string x1 = l1;
  x1[68] = 'x';
  lines = read(l0 + "\n" + x1 + "\n" + l2 + "\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("COLUMNS 69-69"), std::string::npos);
}

TEST(ElementReader, CrlfLineEndsReadAsPlainLines) {
  ScratchDir dir;
  const std::string text = test::read_file(data_path("tle/landsat8_2024.tle"));
  std::string crlf;
  for (char c : text) {
    if (c == '\n')
      crlf += "\r\n";
    else
      crlf += c;
  }
  dir.write("crlf.tle", crlf);
  TLE_ELSET a{};
  TLE_ELSET b{};
  a = to_tle_elset(read_two_line_file(field70(data_path("tle/landsat8_2024.tle"))));
  b = to_tle_elset(read_two_line_file(field70(dir.file("crlf.tle"))));
  EXPECT_EQ(std::memcmp(&a.EPOCH_DAY, &b.EPOCH_DAY, sizeof(double) * 11), 0);
}

TEST(ElementReader, TheReaderAndTheOrbitSetUpFillTheSameRecord) {
  for (const std::string stem : {"landsat8_2024", "amazonia1_2025"}) {
    // The two-line set through the reader and through the orbit set-up, record for record.
    const TLE_ELSET a = to_tle_elset(read_two_line_file(data_path("tle/" + stem + ".tle")));
    const TLE_ELSET b =
        to_tle_elset(test::set_up_orbit(data_path("tle/" + stem + ".tle")).elements);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << stem;
  }
}

TEST(ProgramWords, TimeErrorsCarryTheRoutinesHeaderOnce) {
  DateText text{};
  try {
    write_date_text(100, 86400.000001, text);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::time);
    EXPECT_EQ(e.lines()[0], " ERROR: SECONDS OF THE DAY GREATER THAN 24H!");
    // The program prints its routine's header line before them, once.
    const auto program = program_error(program_error(e, "INSTHOR3"), "INSTHOR3").lines();
    EXPECT_EQ(program, (std::vector<std::string>{" MESSAGE FROM INSTHOR3 SUBROUTINE: ",
                                                 " ERROR: SECONDS OF THE DAY GREATER THAN 24H!",
                                                 " EXECUTION INTERRUPTED."}));
  }
}

TEST(ProgramWords, AnEarthOrientationDayMissingIsLocateIersDatasThreeLines) {
  const EopRows& t = detail::eop_rows(test::eop());
  double xp = 0, yp = 0, dut1 = 0;
  try {
    locate_eop(48621.0, t, xp, yp, dut1);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::earth_orientation);
    // The program's three lines for it.
    EXPECT_EQ(program_error(e).lines(),
              (std::vector<std::string>{"ERRO NA SUBROTINA LOCATE_IERS_DATA: ",
                                        "TEMPO JULIANO MODIFICADO 48621 NAO LOCALIZADO",
                                        "EXECUCAO INTERROMPIDA!"}));
  }
}

}  // namespace
}  // namespace orvus
