// A run for the map: its input file read as orvus reads it, and its contacts computed with
// the library from the same element set and Earth-orientation file, so that the map shows
// exactly what the reports say without reading them back.
#include <cmath>
#include <cstdio>

#include "legacy/fatal.hpp"
#include "map.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/plan.hpp"
#include "orvus/search.hpp"

namespace orvus::map {

namespace {

std::string first23(const UtcInstant& t) {
  const DateText text = format_date_time(t);
  return {text.data(), 23};
}

}  // namespace

Contact map_contact(const orvus::Contact& c) {
  Contact m;
  m.number = c.number;
  m.closed = c.closed;
  m.steps.reserve(c.steps.size());
  for (const ContactStep& step : c.steps) {
    StepPoints s;
    s.time = first23(step.local);
    for (std::size_t k = 0; k < 3; ++k) {
      const GroundPoint& g = step.geodetic[k];
      if (std::isfinite(g.lon_deg) && std::isfinite(g.lat_deg)) s.p[k] = g;
    }
    m.steps.push_back(std::move(s));
  }
  if (c.closed) {
    m.best_point = c.best_geodetic;
    m.start = first23(c.start_local);
    m.end = first23(c.end_local);
    m.best_time = first23(c.best_local);
    m.best_utc = c.best_utc;
    m.duration = c.duration_s;
    m.best_alpha = c.best_alpha_deg;
    m.distance = c.distance_deg;
    m.pass = c.pass;
  }
  return m;
}

void read_run(const std::filesystem::path& dir, Run& run) {
  const std::string input = (dir / kInputFile).string();
  if (!read_run_file(input, run.params)) {
    throw Fatal{" ORVUS-MAP: CANNOT OPEN THE INPUT FILE \"" + input + "\".",
                " EXECUTION INTERRUPTED."};
  }
  const RunParams& p = run.params;
  const std::filesystem::path tle(trimmed(p.TLE_FILE));
  // The set orvus used: the one named as record 1, else the first (the file's path may be
  // longer than the 70 columns of record 5 once the directory is put in front of it).
  std::vector<ElementSet> sets = read_element_file((dir / tle).string());
  const auto named = find_element_set(sets, trimmed(p.SAT_NAME));
  const ElementSet& elements = sets[named >= 0 ? static_cast<std::size_t>(named) : 0];
  const Satellite satellite{Propagator(elements), Sensor{p.ALPHA, p.BETA}};
  const EarthOrientation eop = EarthOrientation::load((dir / "finals2000A.data").string());
  const Box box{p.LON1, p.LON2, p.LAT1, p.LAT2};
  const Interval interval{{p.START_DAY, p.START_SEC}, {p.END_DAY, p.END_SEC}, p.STEP, p.UTC_DIFF};
  ContactList list;
  try {
    find_contacts(satellite, box, interval, eop, list);
  } catch (const Error& error) {
    // orvus stopped at the same step and its reports end there: so does the map.
    std::fprintf(stderr, " ORVUS-MAP: THE SEARCH STOPPED EARLY; THE CONTACTS BEFORE ARE MAPPED:\n");
    for (const auto& line : error.lines()) std::fprintf(stderr, "%s\n", line.c_str());
  }
  // Each contact's figures as the planner makes them: its coverage, and for a closed one the
  // Sun at the centre of the box at the best time.
  Target target;
  target.box = box;
  target.centre = {p.CEN_LON, p.CEN_LAT};
  run.contacts.clear();
  for (const orvus::Contact& c : list.contacts) {
    Contact m = map_contact(c);
    std::vector<LonLat> side1, side2;
    for (const StepPoints& s : m.steps) {
      if (s.p[1] && s.p[2]) {
        side1.push_back(*s.p[1]);
        side2.push_back(*s.p[2]);
      }
    }
    if (m.closed) {
      const OpportunityFigures f = opportunity_figures(target, elements, m.best_utc, side1, side2,
                                                       sun_earth_fixed(m.best_utc));
      m.sun_elevation_deg = f.sun_elevation_deg;
      m.coverage = f.coverage;
    } else {
      m.coverage = target_coverage(target, side1, side2);
    }
    run.contacts.push_back(std::move(m));
  }
}

}  // namespace orvus::map
