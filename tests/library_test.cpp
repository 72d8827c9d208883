// The public API as a program outside the project uses it: contacts as records, the one
// error type with where it happened, and the C entry that returns a status.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "orvus/orvus.hpp"
#include "orvus/vek_p1.h"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;

TEST(Library, ContactsAsRecordsAgreeAcrossSearchesAndWithTheirSteps) {
  const Satellite sat{Propagator(read_elements(data_path("tle/landsat8_2024.tle"))), {0.0, 30.0}};
  const EarthOrientation eop = EarthOrientation::load(data_path("finals2000A.data"));
  const Box box{-55.0, -45.0, -20.0, -10.0};
  Interval iv;
  iv.start = parse_date_time("07/10/2024 00:00:00");
  iv.end = parse_date_time("09/10/2024 00:00:00");
  iv.step_s = 2.0;
  const auto screened = find_contacts(sat, box, iv, eop);
  const auto plain = find_contacts(sat, box, iv, eop, {SearchMethod::plain, 1});
  ASSERT_GE(screened.size(), 2u);
  ASSERT_EQ(screened.size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const Contact& c = screened[i];
    EXPECT_EQ(c.number, static_cast<int>(i) + 1);
    EXPECT_EQ(c.steps.size(), plain[i].steps.size());
    EXPECT_EQ(c.best_alpha_deg, plain[i].best_alpha_deg);
    if (!c.closed) continue;
    // One step line per step of the contact, ends included.
    EXPECT_EQ(c.steps.size(), static_cast<std::size_t>(std::lround(c.duration_s / 2.0)) + 1);
    EXPECT_EQ(c.steps.front().local.seconds, c.start_local.seconds);
    // Ascending when the track's latitude grows over the contact.
    const bool up = c.steps.back().geocentric[0].lat_deg > c.steps.front().geocentric[0].lat_deg;
    EXPECT_EQ(c.pass, up ? 'A' : 'D');
  }
}

// A caller's check between blocks stops either search with its own exception; what the sink
// got by then is the start of the whole run's contacts.
TEST(Library, CheckBetweenBlocksStopsTheSearch) {
  const Satellite sat{Propagator(read_elements(data_path("tle/landsat8_2024.tle"))), {0.0, 30.0}};
  const EarthOrientation eop = EarthOrientation::load(data_path("finals2000A.data"));
  const Box box{-55.0, -45.0, -20.0, -10.0};
  const Interval iv{parse_date_time("07/10/2024 00:00:00"), parse_date_time("09/10/2024 00:00:00"),
                    2.0, 0.0};
  const auto whole = find_contacts(sat, box, iv, eop);
  for (const SearchMethod method : {SearchMethod::screened, SearchMethod::plain}) {
    // Blocks are sized by the clock, so the stop is set by what has arrived: the first check
    // after a contact reached the sink.
    ContactList sink;
    int calls = 0;
    SearchOptions options{method, 2};
    options.between_blocks = [&calls, &sink] {
      ++calls;
      if (!sink.contacts.empty()) throw calls;
    };
    EXPECT_THROW(find_contacts(sat, box, iv, eop, sink, options), int);
    ASSERT_GE(sink.contacts.size(), 1u);
    ASSERT_LT(sink.contacts.size(), whole.size());
    for (std::size_t i = 0; i < sink.contacts.size(); ++i)
      EXPECT_EQ(sink.contacts[i].start_utc.seconds, whole[i].start_utc.seconds);
  }
}

TEST(Library, ErrorsSayWhatAndWhere) {
  std::istringstream bad("92 1 1 4862x.00 I  0.182987 0.000672  0.168775 0.000345  I-0.1251659\n");
  try {
    (void)EarthOrientation::parse(bad, "eop.txt");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::earth_orientation);
    EXPECT_EQ(e.where().file, "eop.txt");
    EXPECT_EQ(e.where().line, 1);
    EXPECT_EQ(e.where().first_column, 7);
    EXPECT_EQ(e.where().last_column, 15);
  }
  const EarthOrientation eop = EarthOrientation::load(data_path("finals2000A.data"));
  try {
    (void)eop.at(eop.last_mjd() + 3.0);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::earth_orientation);
    EXPECT_NE(std::string(e.what()).find("NO EARTH-ORIENTATION DATA FOR MJD"), std::string::npos);
  }
  EXPECT_THROW((void)read_elements(data_path("no-such.tle")), Error);
}

// The settings' checks every command uses, at their bounds, each with its kind: Landsat 8's
// horizon is asin(6356.75 / 7083.5) = 63.8 deg (Kepler's third law at 14.571 rev/day).
TEST(Library, SettingsAreCheckedAtTheirBoundsWithTheirKinds) {
  using S = SettingProblem::Setting;
  EXPECT_FALSE(check_step(0.001));
  EXPECT_FALSE(check_step(86400.0));
  EXPECT_EQ(check_step(0.0009)->setting, S::step);
  EXPECT_TRUE(check_step(86400.001));
  EXPECT_TRUE(check_step(std::nan("")));
  EXPECT_FALSE(check_utc_offset(-24.0));
  EXPECT_EQ(check_utc_offset(24.01)->kind, ErrorKind::input);
  EXPECT_FALSE(check_sensor({0.0, 179.999}));
  EXPECT_TRUE(check_sensor({0.0, 180.0}));  // the edges at +-90 exactly
  EXPECT_TRUE(check_sensor({80.0, 20.1}));
  const Propagator landsat(read_elements(data_path("tle/landsat8_2024.tle")));
  EXPECT_FALSE(check_horizon({0.0, 127.0}, landsat));
  const auto past = check_horizon({0.0, 128.0}, landsat);
  ASSERT_TRUE(past);
  EXPECT_EQ(past->kind, ErrorKind::geometry);
  EXPECT_NE(past->text.find("WITHIN 63.8"), std::string::npos) << past->text;
  const UtcInstant epoch = landsat.elements().epoch;
  const Interval interval{epoch, {epoch.day + 1.0, epoch.seconds}, 1.0, 0.0};
  try {
    validate({0.0, 128.0}, interval, &landsat);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::geometry);
  }
  EXPECT_NO_THROW(validate({10.0, 20.0}, interval, &landsat));
}

TEST(Library, CEntryReturnsAStatus) {
  char name[70];
  const auto set_name = [&name](const std::string& s) {
    std::fill(std::begin(name), std::end(name), ' ');
    std::copy_n(s.data(), std::min<std::size_t>(s.size(), 70), name);
  };
  TLE_ELSET e{};
  double a = 0, p = 0, f = 0, earth[4], b1[9], b2[27];
  char message[256];
  set_name(data_path("tle/landsat8_2024.tle"));
  EXPECT_EQ(orvus_set_up_orbit(name, &e, &a, &p, &f, earth, b1, b2, message, sizeof message), 0);
  EXPECT_NEAR(p / 60.0, 1440.0 / 14.57116925, 0.5);  // nodal period near the Keplerian one
  set_name("/nonexistent/elements.tle");
  EXPECT_EQ(orvus_set_up_orbit(name, &e, &a, &p, &f, earth, b1, b2, message, sizeof message), 1);
  EXPECT_NE(std::string(message).find("elements.tle"), std::string::npos) << message;
}

}  // namespace
}  // namespace orvus
