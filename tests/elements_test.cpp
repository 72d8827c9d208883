// The element-set reader: every published form of the same digits gives the same elements
// and the same reports; catalogues, Alpha-5 numbers, choosing a set; what it refuses.
#include "orvus/elements.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "orvus/error.hpp"
#include "orvus/plan.hpp"
#include "test_support.hpp"
#include "two_line_text.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::ScratchDir;
using test::with_checksum;

std::vector<std::string> tle_lines(const std::string& file) {
  std::ifstream in(data_path("tle/" + file));
  std::vector<std::string> l(3);
  for (auto& s : l) std::getline(in, s);
  return l;
}

std::vector<ElementSet> read_text(const std::string& text, const std::string& source = "x") {
  std::istringstream in(text);
  return read_element_sets(in, source);
}

// The console lines of the Error that reading `text` as file `source` raises.
std::vector<std::string> refusal(const std::string& text, const std::string& source) {
  try {
    (void)read_text(text, source);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::elements);
    return e.lines();
  }
  ADD_FAILURE() << "accepted: " << text.substr(0, 200);
  return {};
}

TEST(ElementSets, EveryEncodingOfTheSameDigitsGivesTheSameElements) {
  for (const std::string stem : {"landsat8_2024", "amazonia1_2025"}) {
    // (The two-line set through the reader and through the orbit set-up, record for record:
    // routines_test.cpp.)
    const ElementSet tle = read_element_file(data_path("tle/" + stem + ".tle")).at(0);
    for (const char* ext : {".kvn", ".xml", ".json", ".csv"}) {
      const auto sets = read_element_file(data_path("omm/" + stem + ext));
      ASSERT_EQ(sets.size(), 1u);
      const ElementSet& o = sets[0];
      const std::string what = stem + ext;
      EXPECT_EQ(o.name, tle.name) << what;
      EXPECT_EQ(o.catalogue_number, tle.catalogue_number) << what;
      EXPECT_EQ(o.revolution_number, tle.revolution_number) << what;
      EXPECT_EQ(o.epoch.day, tle.epoch.day) << what;
      EXPECT_EQ(o.epoch.seconds, tle.epoch.seconds) << what;
      EXPECT_EQ(o.mean_motion, tle.mean_motion) << what;
      EXPECT_EQ(o.eccentricity, tle.eccentricity) << what;
      EXPECT_EQ(o.inclination, tle.inclination) << what;
      EXPECT_EQ(o.raan, tle.raan) << what;
      EXPECT_EQ(o.arg_perigee, tle.arg_perigee) << what;
      EXPECT_EQ(o.mean_anomaly, tle.mean_anomaly) << what;
      EXPECT_EQ(o.bstar, tle.bstar) << what;
      EXPECT_EQ(o.mean_motion_dot, tle.mean_motion_dot) << what;
      EXPECT_EQ(o.mean_motion_ddot, tle.mean_motion_ddot) << what;
    }
  }
  // The epoch as published (microseconds), by hand: 2024-10-06 is day number 27307 and
  // 19:02:33.541728 is 68553.541728 s; day 280 of 2024 is the same date.
  std::string kvn = test::read_file(data_path("omm/landsat8_2024.kvn"));
  for (const char* epoch : {"2024-10-06T19:02:33.541728Z", "2024-280T19:02:33.541728"}) {
    std::string k = kvn;
    k.replace(k.find("2024-10-06T"), 31, epoch);
    const ElementSet e = read_text(k).at(0);
    EXPECT_EQ(e.epoch.day, 27307.0) << epoch;
    EXPECT_EQ(e.epoch.seconds, 68553.541728) << epoch;
    EXPECT_NEAR(element_age_days(e, UtcInstant{27317.0, 68553.541728}), 10.0, 1e-12);
  }
}

// OMM in KVN as its writers spell it: units in brackets after a value (with or without a
// blank), COMMENT and blank lines anywhere, blanks or tabs around "=", indented lines, CRLF
// ends, the metadata's values in any case and an epoch ending in "z". Every spelling reads as
// the two-line set of the same digits (a reader of its own); keywords keep their case.
TEST(ElementSets, KvnInEveryAllowedSpellingReadsAsTheTwoLineSet) {
  const ElementSet tle = read_element_file(data_path("tle/landsat8_2024.tle")).at(0);
  const std::map<std::string, std::string> units = {
      {"MEAN_MOTION", "[rev/day]"},        {"INCLINATION", "[deg]"},
      {"RA_OF_ASC_NODE", "[deg]"},         {"ARG_OF_PERICENTER", "[deg]"},
      {"MEAN_ANOMALY", "[deg]"},           {"BSTAR", "[1/ER]"},
      {"MEAN_MOTION_DOT", "[rev/day**2]"}, {"MEAN_MOTION_DDOT", "[rev/day**3]"}};
  const std::string kvn = test::read_file(data_path("omm/landsat8_2024.kvn"));
  const auto spelt = [&](int form) {
    std::istringstream in(kvn);
    std::string out = form == 2 ? "COMMENT Written by hand\r\n\r\n" : "";
    for (std::string line; std::getline(in, line);) {
      const std::string key = line.substr(0, line.find_first_of(" ="));
      std::string value = line.substr(line.find('=') + 1);
      value.erase(0, value.find_first_not_of(' '));
      const auto unit = units.find(key);
      if (form == 0) {
        out += key + " = " + value + (unit != units.end() ? " " + unit->second : "") + "\n";
      } else if (form == 1) {
        out += key + "=" + value + (unit != units.end() ? unit->second : "") + "\n";
      } else if (form == 2) {
        out += "\t" + key + "\t=  " + value + (unit != units.end() ? "\t" + unit->second : "") +
               "  \r\n \r\nCOMMENT after " + key + "\r\n";
      } else {
        if (key == "CENTER_NAME") value = "earth";
        if (key == "REF_FRAME") value = "Teme";
        if (key == "TIME_SYSTEM") value = "utc";
        if (key == "MEAN_ELEMENT_THEORY") value = "sgp/sgp4";
        if (key == "EPOCH") value += "z";
        out += key + " = " + value + "\n";
      }
    }
    return out;
  };
  for (int form = 0; form < 4; ++form) {
    const std::string text = spelt(form);
    const auto sets = read_text(text);
    ASSERT_EQ(sets.size(), 1u) << text;
    const ElementSet& o = sets[0];
    EXPECT_EQ(o.name, tle.name) << text;
    EXPECT_EQ(o.catalogue_number, tle.catalogue_number) << text;
    EXPECT_EQ(o.epoch.day, tle.epoch.day) << text;
    EXPECT_EQ(o.epoch.seconds, tle.epoch.seconds) << text;
    EXPECT_EQ(o.mean_motion, tle.mean_motion) << text;
    EXPECT_EQ(o.eccentricity, tle.eccentricity) << text;
    EXPECT_EQ(o.inclination, tle.inclination) << text;
    EXPECT_EQ(o.raan, tle.raan) << text;
    EXPECT_EQ(o.arg_perigee, tle.arg_perigee) << text;
    EXPECT_EQ(o.mean_anomaly, tle.mean_anomaly) << text;
    EXPECT_EQ(o.bstar, tle.bstar) << text;
    EXPECT_EQ(o.mean_motion_dot, tle.mean_motion_dot) << text;
  }
  // What is not a spelling of KVN: a keyword in lower case, a unit left open, text after it.
  const auto edit = [&](const std::string& from, const std::string& to) {
    return std::string(kvn).replace(kvn.find(from), from.size(), to);
  };
  EXPECT_NE(refusal(edit("INCLINATION ", "inclination "), "k.kvn")
                .at(0)
                .find("LINE 13: NOT A LINE \"KEYWORD = VALUE\""),
            std::string::npos);
  EXPECT_NE(refusal(edit("98.2180", "98.2180 [deg"), "k.kvn").at(0).find("INCLINATION"),
            std::string::npos);
  EXPECT_NE(refusal(edit("98.2180", "98.2180 [deg] 1"), "k.kvn").at(0).find("INCLINATION"),
            std::string::npos);
}

TEST(ElementSets, CataloguesAlphaFiveNumbersAndChoosingASet) {
  const auto l = tle_lines("landsat8_2024.tle");
  const auto set = [&](const std::string& title, const std::string& number) {
    std::string l1 = l[1];
    std::string l2 = l[2];
    l1.replace(2, 5, number);
    l2.replace(2, 5, number);
    return (title.empty() ? "" : title + "\n") + with_checksum(l1.substr(0, 68)) + "\n" +
           with_checksum(l2.substr(0, 68)) + "\n";
  };
  const auto sets = read_text(set("FIRST", "A0001") + set("", "Z9999") + "\n" +
                              set("0 Landsat 8", "39084") + "a closing note\n");
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].catalogue_number, 100001);
  EXPECT_EQ(sets[1].catalogue_number, 339999);
  EXPECT_EQ(sets[1].name, "");
  EXPECT_EQ(sets[2].catalogue_number, 39084);
  EXPECT_EQ(sets[2].international_designator, "13008A");
  EXPECT_EQ(find_element_set(sets, std::string("  LANDSAT 8 ")), 2);
  EXPECT_EQ(find_element_set(sets, std::int64_t{339999}), 1);
  EXPECT_EQ(find_element_set(sets, std::string("NONE")), -1);
  EXPECT_EQ(find_element_set(sets, {}), 0);
  // I and O are not Alpha-5 digits; the two lines of a set carry one number.
  EXPECT_NE(refusal(set("S", "I0001"), "c.tle").at(0).find("COLUMNS 3-7"), std::string::npos);
  std::string mixed = l[2];
  mixed.replace(2, 5, "39085");
  mixed = l[0] + "\n" + l[1] + "\n" + with_checksum(mixed.substr(0, 68)) + "\n";
  EXPECT_NE(
      refusal(set("S", "00001") + mixed, "c.tle").at(0).find("SET 2 (\"LANDSAT 8\"): LINE 2 IS OF"),
      std::string::npos);

  ScratchDir dir;
  dir.write("c.tle", set("FIRST", "A0001") + set("LANDSAT 8", "39084"));
  EXPECT_EQ(read_elements(dir.file("c.tle"), std::string("landsat 8")).catalogue_number, 39084);
  EXPECT_THROW(read_elements(dir.file("c.tle"), std::int64_t{7}), Error);
}

TEST(ElementSets, RefusesWhatWouldBeSilentlyWrongNamingFileAndSet) {
  const auto l = tle_lines("landsat8_2024.tle");
  std::string type4 = l[1];
  type4[62] = '4';
  EXPECT_EQ(refusal(l[0] + "\n" + with_checksum(type4.substr(0, 68)) + "\n" + l[2] + "\n", "a.tle"),
            (std::vector<std::string>{" ELEMENT FILE \"a.tle\", SET 1 (\"LANDSAT 8\"): EPHEMERIS "
                                      "TYPE 4 IN COLUMN 63 OF LINE 1: NOT THE MEAN ELEMENTS THIS "
                                      "MODEL READS.",
                                      " EXECUTION INTERRUPTED."}));

  const std::string kvn = test::read_file(data_path("omm/landsat8_2024.kvn"));
  const auto edit = [&](const std::string& from, const std::string& to) {
    std::string k = kvn;
    k.replace(k.find(from), from.size(), to);
    return k;
  };
  EXPECT_EQ(refusal(edit("= SGP4", "= SGP4-XP"), "x.kvn").at(0),
            " ELEMENT FILE \"x.kvn\", SET 1 (\"LANDSAT 8\"): MEAN_ELEMENT_THEORY IS SGP4-XP, NOT "
            "SGP4: NOT THE MEAN ELEMENTS THIS MODEL READS.");
  const struct {
    std::string text, expected;
  } cases[] = {
      {edit("= EARTH", "= MARS"), "CENTER_NAME IS MARS, NOT EARTH"},
      {edit("= TEME", "= GCRF"), "REF_FRAME IS GCRF, NOT TEME"},
      {edit("= UTC", "= TAI"), "TIME_SYSTEM IS TAI, NOT UTC"},
      {edit("MEAN_MOTION ", "XMEAN_MOTION "), "MANDATORY KEYWORD MEAN_MOTION MISSING"},
      {edit("98.2180", "98.2l80"), "INCLINATION \"98.2l80\" IS NOT A NUMBER"},
      {edit("EPHEMERIS_TYPE      = 0", "EPHEMERIS_TYPE = 4"), "EPHEMERIS_TYPE IS 4"},
      {edit("19:02:33", "25:02:33"), "IS NOT A UTC DATE-TIME"},
  };
  for (const auto& c : cases) {
    const auto lines = refusal(c.text, "x.kvn");
    ASSERT_EQ(lines.size(), 2u) << c.expected;
    EXPECT_EQ(lines[0].rfind(" ELEMENT FILE \"x.kvn\", SET 1 (\"LANDSAT 8\"): ", 0), 0u);
    EXPECT_NE(lines[0].find(c.expected), std::string::npos) << lines[0];
  }

  // Catalogue numbers up to nine digits stay whole integers; ten digits are refused.
  const std::string csv = test::read_file(data_path("omm/landsat8_2024.csv"));
  std::string nine = csv;
  nine.replace(nine.find(",39084,"), 7, ",123456789,");
  EXPECT_EQ(read_text(nine).at(0).catalogue_number, 123456789);
  nine.replace(nine.find(",123456789,"), 11, ",1234567890,");
  EXPECT_NE(refusal(nine, "n.csv").at(0).find("NORAD_CAT_ID 1234567890 IS OUTSIDE"),
            std::string::npos);

  // Malformed documents name the line where they broke.
  const std::string xml = test::read_file(data_path("omm/landsat8_2024.xml"));
  const std::string json = test::read_file(data_path("omm/landsat8_2024.json"));
  const struct {
    std::string text, source, expected;
  } broken[] = {
      {xml.substr(0, xml.find("</meanElements>")), "b.xml", "LINE 2"},  // <ndm> left open
      {std::string(xml).replace(xml.find("</INCLINATION>"), 3, "</X"), "b.xml", "LINE 23"},
      {"[\n" + json.substr(1, 40), "b.json", "LINE 2: NOT WELL-FORMED JSON"},
      {csv + "A,B\n", "b.csv", "LINE 3: 2 FIELDS WHERE THE HEADER HAS 17"},
      {"[{\"EPOCH\": {\"a\": 1}}]", "b.json", "SET 1: NOT AN ARRAY OF OMM OBJECTS"},
  };
  for (const auto& b : broken) {
    const auto lines = refusal(b.text, b.source);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("\"" + b.source + "\", " + b.expected), std::string::npos) << lines[0];
  }
}

// The reports of `orvus` from an element file `content`, all runs naming it alike.
struct RunOutput {
  std::string comparable, errors;
};
RunOutput run_with(const std::string& content, const std::string& sat = "LANDSAT 8",
                   const std::string& start = "07/10/2024 00:00:00.000000000",
                   const std::string& end = "08/10/2024 00:00:00.000000000") {
  ScratchDir dir;
  dir.write("elements.dat", content);
  std::filesystem::create_symlink(data_path("finals2000A.data"), dir.path / "finals2000A.data");
  dir.write("ORVUS_IN.TXT", sat + "\nTARGET\n-3\n-75, -30, -35, 5\nelements.dat\n0.0, 60.0\n" +
                                start + "\n" + end + "\n10\n");
  const auto r =
      test::run_command("cd '" + dir.path.string() + "' && ('" + ORVUS_BINARY + "' 2>err.txt)");
  return {test::comparable_output(dir.path, r), dir.read("err.txt")};
}

TEST(ElementSets, SameReportsFromEveryFormAndFromACatalogue) {
  const std::string tle = test::read_file(data_path("tle/landsat8_2024.tle"));
  const RunOutput reference = run_with(tle);
  EXPECT_NE(reference.comparable.find("status 0"), std::string::npos);
  EXPECT_EQ(reference.errors, "");
  for (const char* ext : {".kvn", ".xml", ".json", ".csv"}) {
    const RunOutput r =
        run_with(test::read_file(data_path(std::string("omm/landsat8_2024") + ext)));
    EXPECT_EQ(r.comparable, reference.comparable) << ext;
    EXPECT_EQ(r.errors, "") << ext;
  }
  // In a catalogue the set named as record 1 is taken, and the choice is said.
  const RunOutput cat = run_with(test::read_file(data_path("tle/amazonia1_2025.tle")) + tle);
  EXPECT_EQ(cat.comparable, reference.comparable);
  EXPECT_NE(cat.errors.find("HOLDS 2 SETS: USING SET 2 (\"LANDSAT 8\", CATALOGUE NUMBER 39084)"),
            std::string::npos)
      << cat.errors;
  // Old elements: 23/10/2024 0 h local is 03:00 UTC, 16.33 days after 6 October 19:02:33.
  const RunOutput old =
      run_with(tle, "LANDSAT 8", "22/10/2024 00:00:00.000000000", "23/10/2024 00:00:00.000000000");
  EXPECT_NE(old.errors.find("REACHES 16.3 DAYS FROM THE EPOCH"), std::string::npos) << old.errors;
  EXPECT_EQ(old.comparable.find("DAYS FROM THE EPOCH"), std::string::npos);
}

}  // namespace
}  // namespace orvus

namespace orvus {
namespace {

// A catalogue number of nine digits, which no two-line set can carry, reaches the planner's
// table whole.
TEST(ElementSets, NineDigitNumberRoundTripsThroughThePlan) {
  test::ScratchDir dir;
  std::string csv = test::read_file(test::data_path("omm/landsat8_2024.csv"));
  csv.replace(csv.find(",39084,"), 7, ",123456789,");
  dir.write("sat.csv", csv);
  dir.write("targets.csv", "id,name,lon1,lon2,lat1,lat2\nB,BRASILIA,-55,-45,-20,-10\n");
  dir.write("plan.toml",
            "start = 2024-10-07T00:00:00\nend = 2024-10-09T00:00:00\n"
            "utc_offset_hours = 0\nstep_s = 10.0\nearth_orientation = \"" +
                test::data_path("finals2000A.data") +
                "\"\ntargets = \"targets.csv\"\nrule = \"points\"\n"
                "output = \"out\"\n\n[[satellite]]\nname = \"LANDSAT 8\"\n"
                "elements = \"sat.csv\"\nalpha_deg = 0.0\nbeta_deg = 30.0\n");
  const Plan plan = load_plan(dir.file("plan.toml"));
  EXPECT_EQ(plan.satellites.at(0).elements.catalogue_number, 123456789);
  const auto kept = run_plan(plan, EarthOrientation::load(plan.earth_orientation_path));
  ASSERT_FALSE(kept.empty());
  std::ostringstream out;
  write_opportunities_csv(plan, kept, out);
  std::istringstream rows(out.str());
  std::string header, row;
  std::getline(rows, header);
  while (std::getline(rows, row)) EXPECT_EQ(row.rfind("LANDSAT 8,123456789,B,", 0), 0u) << row;
}

}  // namespace
}  // namespace orvus
