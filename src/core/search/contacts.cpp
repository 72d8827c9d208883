// The checks of a search's settings and the set-up of a search: the box, the interval and
// the tracking angles.
#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <utility>

#include "core/search/search.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/error.hpp"
#include "orvus/search.hpp"
#include "orvus/threads.hpp"

namespace orvus {

void ContactList::contact_start(int number, const ContactStep& first) {
  Contact c;
  c.number = number;
  c.start_utc = first.utc;
  c.start_local = first.local;
  contacts.push_back(std::move(c));
}

void ContactList::contact_step(int /*number*/, const ContactStep& step) {
  contacts.back().steps.push_back(step);
}

void ContactList::contact_end(const Contact& contact) {
  std::vector<ContactStep> steps = std::move(contacts.back().steps);
  contacts.back() = contact;
  contacts.back().steps = std::move(steps);
}

void ContactList::open_at_end(int /*number*/) {}

namespace {

[[noreturn]] void bad_argument(const std::string& what) {
  throw Error(ErrorKind::input, {" " + what, " EXECUTION INTERRUPTED."});
}

std::string number_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

}  // namespace

std::optional<SettingProblem> check_sensor(const Sensor& sensor) {
  const double lo = sensor.alpha_deg - sensor.beta_deg / 2.0;
  const double hi = sensor.alpha_deg + sensor.beta_deg / 2.0;
  if (lo > -90.0 && lo < 90.0 && hi > -90.0 && hi < 90.0) return std::nullopt;
  return SettingProblem{SettingProblem::Setting::sensor, ErrorKind::input,
                        "ALPHA - BETA/2 AND ALPHA + BETA/2 MUST LIE STRICTLY BETWEEN -90 AND 90 "
                        "DEGREES (GIVEN: " +
                            number_text(lo) + " AND " + number_text(hi) + ")."};
}

std::optional<SettingProblem> check_step(double step_s) {
  if (step_s >= 0.001 && step_s <= 86400.0) return std::nullopt;
  return SettingProblem{SettingProblem::Setting::step, ErrorKind::input,
                        "THE TIME STEP MUST LIE FROM 0.001 S (THE RESOLUTION OF THE TIMES) TO "
                        "86400 S (GIVEN: " +
                            number_text(step_s) + ")."};
}

std::optional<SettingProblem> check_utc_offset(double hours) {
  if (std::fabs(hours) <= 24.0) return std::nullopt;
  return SettingProblem{SettingProblem::Setting::utc_offset, ErrorKind::input,
                        "THE TIME DIFFERENCE FROM UTC MUST LIE BETWEEN -24 AND 24 HOURS (GIVEN: " +
                            number_text(hours) + ")."};
}

std::optional<SettingProblem> check_horizon(const Sensor& sensor, const Propagator& orbit) {
  const double lo = sensor.alpha_deg - sensor.beta_deg / 2.0;
  const double hi = sensor.alpha_deg + sensor.beta_deg / 2.0;
  const double horizon = horizon_angle_deg(orbit);
  if (std::max(std::fabs(lo), std::fabs(hi)) < horizon) return std::nullopt;
  return SettingProblem{SettingProblem::Setting::horizon, ErrorKind::geometry,
                        "THE VIEW PASSES THE EARTH'S HORIZON: ALPHA - BETA/2 AND ALPHA + BETA/2 "
                        "(GIVEN: " +
                            angle_text(lo) + " AND " + angle_text(hi) + ") MUST LIE WITHIN " +
                            angle_text(horizon) + " DEGREES OF NADIR FOR THIS ORBIT."};
}

void check_orbit(const Propagator& orbit, const Interval& interval) {
  SearchParams p;
  p.start_day = interval.start.day;
  p.start_sec = interval.start.seconds;
  p.utc_diff = interval.utc_offset_hours;
  check_orbit_domain(p, orbit);
}

void validate(const Sensor& sensor, const Interval& interval, const Propagator* orbit) {
  auto raise = [](const char* what, const SettingProblem& problem) {
    throw Error(problem.kind,
                {std::string(" ") + what + ": " + problem.text, " EXECUTION INTERRUPTED."});
  };
  if (auto bad = check_sensor(sensor)) raise("SENSOR", *bad);
  if (auto bad = check_step(interval.step_s)) raise("INTERVAL", *bad);
  if (auto bad = check_utc_offset(interval.utc_offset_hours)) raise("INTERVAL", *bad);
  for (const UtcInstant& t : {interval.start, interval.end}) {
    if (!(std::isfinite(t.day) && t.seconds >= 0.0 && t.seconds <= 86400.0)) {
      bad_argument("INTERVAL: AN INSTANT NEEDS A FINITE DAY AND SECONDS FROM 0 TO 86400.");
    }
  }
  if (orbit == nullptr) return;
  check_orbit(*orbit, interval);
  if (auto bad = check_horizon(sensor, *orbit)) raise("SENSOR", *bad);
}

void search_setup(const Sensor& sensor, const Box& box, const Interval& interval, SearchParams& p) {
  if (!(std::fabs(box.lat1) <= 90.0 && std::fabs(box.lat2) <= 90.0 &&
        std::fabs(box.lon1) <= 360.0 && std::fabs(box.lon2) <= 360.0)) {
    bad_argument(
        "BOX: LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND LONGITUDES BETWEEN -360 "
        "AND 360 DEGREES.");
  }
  validate(sensor, interval);
  p.lon1 = box.lon1;
  p.lon2 = box.lon2;
  p.lat1 = box.lat1;
  p.lat2 = box.lat2;
  p.utc_diff = interval.utc_offset_hours;
  p.start_day = interval.start.day;
  p.start_sec = interval.start.seconds;
  p.end_day = interval.end.day;
  p.end_sec = interval.end.seconds;
  p.step = interval.step_s;
  p.alpha = sensor.alpha_deg;
  p.beta = sensor.beta_deg;
  derive_search_values(p);
}

}  // namespace orvus
