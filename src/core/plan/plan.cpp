// The plan file (TOML): every key checked against the same limits as the input file of
// `orvus`, paths resolved against the plan's directory, the satellites' element sets chosen
// and the targets read.
#include <toml++/toml.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/io/text_input.hpp"
#include "core/plan/plan_internal.hpp"
#include "core/search/search.hpp"
#include "orvus/orbit.hpp"

namespace orvus {

namespace {

using plan::fail;
using plan::kLeastRollRate;
using plan::kMostRateGbitS;
using plan::kMostRecorderGbit;
using plan::kMostRollRate;
using plan::kMostSeconds;
using plan::number_text;

struct Reader {
  std::string file;
  long line_of(const toml::node& n) const { return static_cast<long>(n.source().begin.line); }
  [[noreturn]] void bad(const toml::node& n, const std::string& key,
                        const std::string& what) const {
    fail(file, line_of(n), key, "\"" + key + "\" " + what);
  }
  void known(const toml::table& t, const std::set<std::string>& keys,
             const std::string& prefix) const {
    for (auto&& [k, v] : t) {
      if (!keys.count(std::string(k.str()))) {
        fail(file, static_cast<long>(k.source().begin.line), prefix + std::string(k.str()),
             "UNKNOWN KEY \"" + prefix + std::string(k.str()) + "\".");
      }
    }
  }
  const toml::node& need(const toml::table& t, const std::string& key, const std::string& prefix,
                         const toml::node& where) const {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
      fail(file, line_of(where), prefix + key, "MISSING KEY \"" + prefix + key + "\".");
    }
    return *n;
  }
  double number(const toml::node& n, const std::string& key) const {
    if (n.is_floating_point()) return *n.value<double>();
    if (n.is_integer()) return static_cast<double>(*n.value<std::int64_t>());
    bad(n, key, "MUST BE A NUMBER.");
  }
  std::string text(const toml::node& n, const std::string& key) const {
    if (!n.is_string()) bad(n, key, "MUST BE A STRING.");
    return *n.value<std::string>();
  }
  void finite(const toml::node& n, const std::string& key, double v) const {
    if (!std::isfinite(v)) bad(n, key, "MUST BE A FINITE NUMBER.");
  }
};

// A local date-time, TOML's own or a string "YYYY-MM-DDTHH:MM:SS[.fffffffff]", as the 29
// characters "DD/MM/YYYY HH:MM:SS.sssssssss" of the input file. The seconds' decimals are
// taken as digits, never through a double: the text holds nanoseconds, so a string with more
// than nine decimals is refused (TOML's own date-times keep nine, cutting the rest).
std::string local_text(const Reader& r, const toml::node& n, const std::string& key) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  long ns = 0;
  if (n.is_date_time()) {
    const toml::date_time dt = *n.value<toml::date_time>();
    if (dt.offset)
      r.bad(n, key, "MUST BE A LOCAL DATE-TIME (WITHOUT AN OFFSET): UTC_OFFSET_HOURS GIVES IT.");
    y = dt.date.year;
    mo = dt.date.month;
    d = dt.date.day;
    h = dt.time.hour;
    mi = dt.time.minute;
    sec = dt.time.second;
    ns = static_cast<long>(dt.time.nanosecond);
  } else if (n.is_string()) {
    const std::string t = *n.value<std::string>();
    char sep = 0;
    int used = 0;
    const bool fields = std::sscanf(t.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h,
                                    &mi, &sec, &used) == 7 &&
                        (sep == 'T' || sep == ' ' || sep == 't') && sec >= 0 && sec <= 60 &&
                        used >= 19;
    std::size_t i = fields ? static_cast<std::size_t>(used) : t.size() + 1;
    int digits = 0;
    if (i < t.size() && t[i] == '.') {
      for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits)
        if (digits < 9) ns = ns * 10 + (t[i] - '0');
      if (digits == 0) i = t.size() + 1;
    }
    if (i != t.size()) {
      r.bad(n, key, "MUST BE A LOCAL DATE-TIME YYYY-MM-DDTHH:MM:SS (GIVEN: \"" + t + "\").");
    }
    if (digits > 9) {
      r.bad(n, key,
            "HAS MORE THAN 9 DECIMALS OF SECONDS (GIVEN: \"" + t +
                "\"): NANOSECONDS ARE THE "
                "FINEST TIME TAKEN.");
    }
    for (int k = digits; k < 9; ++k) ns *= 10;
  } else {
    r.bad(n, key, "MUST BE A LOCAL DATE-TIME (2025-07-01T00:00:00).");
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d.%09ld", d, mo, y, h, mi, sec, ns);
  return buf;
}

std::string resolve(const std::filesystem::path& dir, const std::string& p) {
  const std::filesystem::path q(p);
  return q.is_absolute() ? q.string() : (dir / q).lexically_normal().string();
}

// A number of the table `t` at `key`, `fallback` when absent, within [lo, hi].
double ranged(const Reader& r, const toml::table& t, const std::string& key, double lo, double hi,
              const std::string& unit, const std::optional<double>& fallback = std::nullopt,
              const toml::node* where = nullptr) {
  const toml::node* n = t.get(key);
  if (n == nullptr && fallback) return *fallback;
  const toml::node& v = n != nullptr ? *n : r.need(t, key, "station.", *where);
  const std::string name = "station." + key;
  const double x = r.number(v, name);
  if (!(x >= lo && x <= hi)) {
    r.bad(v, name,
          "MUST LIE BETWEEN " + number_text(lo) + " AND " + number_text(hi) + " " + unit +
              " (GIVEN: " + number_text(x) + ").");
  }
  return x;
}

// The [[station]] tables: a unique name, the geodetic position on WGS 84, the elevation mask
// and, for a schedule, the downlink rate.
void read_stations(const Reader& r, const toml::node& n, std::vector<Station>& out) {
  if (!n.is_array_of_tables() || n.as_array()->empty())
    r.bad(n, "station", "MUST BE ONE OR MORE TABLES [[station]].");
  std::set<std::string> names;
  for (const toml::node& sn : *n.as_array()) {
    const toml::table& t = *sn.as_table();
    r.known(t, {"name", "lon", "lat", "alt_m", "min_elevation_deg", "downlink_gbit_s"}, "station.");
    Station s;
    s.line = r.line_of(sn);
    const toml::node& name = r.need(t, "name", "station.", sn);
    s.name = r.text(name, "station.name");
    if (s.name.empty()) r.bad(name, "station.name", "MUST NOT BE EMPTY.");
    if (!names.insert(s.name).second)
      r.bad(name, "station.name", "NAMES AN EARLIER STATION AGAIN (\"" + s.name + "\").");
    s.lon_deg = ranged(r, t, "lon", -180.0, 180.0, "DEGREES", std::nullopt, &sn);
    s.lat_deg = ranged(r, t, "lat", -90.0, 90.0, "DEGREES", std::nullopt, &sn);
    s.alt_m = ranged(r, t, "alt_m", -500.0, 9000.0, "M", 0.0);
    s.min_elevation_deg = ranged(r, t, "min_elevation_deg", -5.0, 85.0, "DEGREES", 0.0);
    if (const toml::node* v = t.get("downlink_gbit_s")) {
      const double x = r.number(*v, "station.downlink_gbit_s");
      if (!(x > 0.0 && x <= kMostRateGbitS)) {
        r.bad(*v, "station.downlink_gbit_s",
              "MUST BE A POSITIVE FINITE NUMBER OF GBIT/S, AT MOST " + number_text(kMostRateGbitS) +
                  " (GIVEN: " + number_text(x) + ").");
      }
      s.downlink_gbit_s = x;
    }
    out.push_back(std::move(s));
  }
}

// The [coverage] table: the cell size and the areas (a subset of the deck's boxes and
// polygons, every one of them by default, or the land of the map data).
void read_coverage(const Reader& r, const toml::table& t, long line, Plan& plan) {
  r.known(t, {"cell_km", "targets", "region"}, "coverage.");
  PlanCoverage c;
  c.line = line;
  {
    const toml::node* n = t.get("cell_km");
    if (n == nullptr) fail(r.file, line, "coverage.cell_km", "MISSING KEY \"coverage.cell_km\".");
    const double x = r.number(*n, "coverage.cell_km");
    if (!(x >= 1.0 && x <= 1000.0)) {
      r.bad(*n, "coverage.cell_km",
            "MUST LIE BETWEEN 1 AND 1000 KM (GIVEN: " + number_text(x) + ").");
    }
    c.cell_km = x;
  }
  const toml::node* region = t.get("region");
  const toml::node* targets = t.get("targets");
  if (region != nullptr) {
    if (targets != nullptr) {
      r.bad(*region, "coverage.region", "AND \"coverage.targets\" EXCLUDE EACH OTHER.");
    }
    const std::string v = r.text(*region, "coverage.region");
    if (v != "land") r.bad(*region, "coverage.region", "MUST BE \"land\" (GIVEN: \"" + v + "\").");
    c.land = true;
  }
  const auto area = [&](std::size_t i) {
    const Target& g = plan.targets[i];
    return g.box.has_value() || !g.polygons.empty();
  };
  if (targets != nullptr) {
    const toml::array* list = targets->as_array();
    if (list == nullptr || list->empty()) {
      r.bad(*targets, "coverage.targets", "MUST BE AN ARRAY OF ONE OR MORE TARGET IDS.");
    }
    std::map<std::string, std::size_t> ids;
    for (std::size_t i = 0; i < plan.targets.size(); ++i) ids.emplace(plan.targets[i].id, i);
    std::set<std::size_t> chosen;
    for (const toml::node& n : *list) {
      if (!n.is_string()) r.bad(n, "coverage.targets", "MUST HOLD TARGET IDS (STRINGS).");
      const std::string id = *n.value<std::string>();
      const auto it = ids.find(id);
      if (it == ids.end()) {
        r.bad(n, "coverage.targets", "NAMES NO TARGET OF THE DECK (\"" + id + "\").");
      }
      if (!area(it->second)) {
        r.bad(n, "coverage.targets",
              "NAMES TARGET \"" + id +
                  "\", A POINT OR A LINE: COVERAGE NEEDS AN AREA (A BOX OR A POLYGON).");
      }
      if (!chosen.insert(it->second).second) {
        r.bad(n, "coverage.targets", "NAMES TARGET \"" + id + "\" TWICE.");
      }
    }
    c.targets.assign(chosen.begin(), chosen.end());  // in the deck's order
  } else if (!c.land) {
    for (std::size_t i = 0; i < plan.targets.size(); ++i)
      if (area(i)) c.targets.push_back(i);
    if (c.targets.empty()) {
      fail(r.file, line, "coverage",
           "[coverage] NEEDS AN AREA: THE DECK HOLDS NO BOX OR POLYGON TARGET (GIVE "
           "coverage.region = \"land\" OR A DECK OF AREAS).");
    }
  }
  plan.coverage = std::move(c);
}

// A number of a [[satellite]] table's schedule keys, when given: finite, within [lo, hi], and
// positive or with `zero` at least 0.
std::optional<double> agility_number(const Reader& r, const toml::table& t, const std::string& key,
                                     const std::string& unit, double hi, bool zero = false,
                                     double lo = 0.0) {
  const toml::node* n = t.get(key);
  if (n == nullptr) return std::nullopt;
  const std::string name = "satellite." + key;
  const double x = r.number(*n, name);
  if (!(x >= lo && x <= hi) || (!zero && x == 0.0)) {
    r.bad(*n, name,
          (zero ? "MUST BE A FINITE NUMBER OF " + unit + ", AT LEAST 0"
                : "MUST BE A POSITIVE FINITE NUMBER OF " + unit) +
              (lo > 0.0 ? ", AT LEAST " + number_text(lo) : std::string()) + ", AT MOST " +
              number_text(hi) + " (GIVEN: " + number_text(x) + ").");
  }
  return x;
}

// The schedule's keys of one [[satellite]] table, with their defaults from the sensor: the
// camera sees the sensor's field (BETA) and rolls as far as keeps its view inside that field,
// |ALPHA| + (BETA - camera_fov_deg) / 2, but at least |ALPHA|; both defaulted, the view
// reaches the field's edge, |ALPHA| + BETA/2, which the sensor's check keeps within the
// horizon. For a schedule, the camera at the largest roll must see the ground within the
// orbit's horizon angle; without one, the keys are only checked for their limits.
SatelliteAgility read_agility(const Reader& r, const toml::table& s, const Sensor& sensor,
                              double horizon, bool scheduled) {
  SatelliteAgility a;
  a.camera_fov_deg =
      agility_number(r, s, "camera_fov_deg", "DEGREES", 180.0).value_or(sensor.beta_deg);
  const double alpha = std::fabs(sensor.alpha_deg);
  a.max_roll_deg =
      agility_number(r, s, "max_roll_deg", "DEGREES", 90.0, true)
          .value_or(std::max(alpha, alpha + (sensor.beta_deg - a.camera_fov_deg) / 2.0));
  a.roll_rate_deg_s =
      agility_number(r, s, "roll_rate_deg_s", "DEGREES/S", kMostRollRate, false, kLeastRollRate)
          .value_or(0.0);
  a.settle_s = agility_number(r, s, "settle_s", "SECONDS", kMostSeconds, true).value_or(0.0);
  a.max_imaging_s_per_orbit =
      agility_number(r, s, "max_imaging_s_per_orbit", "SECONDS", kMostSeconds);
  a.recorder_gbit = agility_number(r, s, "recorder_gbit", "GBIT", kMostRecorderGbit);
  a.imaging_gbit_s = agility_number(r, s, "imaging_gbit_s", "GBIT/S", kMostRateGbitS);
  a.min_imaging_s =
      agility_number(r, s, "min_imaging_s", "SECONDS", kMostSeconds, true).value_or(1.0);
  if (a.recorder_gbit && !a.imaging_gbit_s) {
    r.bad(*s.get("recorder_gbit"), "satellite.recorder_gbit",
          "NEEDS \"satellite.imaging_gbit_s\", THE DATA RATE WHILE IMAGING, TO FILL IT.");
  }
  const double reach = a.max_roll_deg + a.camera_fov_deg / 2.0;
  if (scheduled && !(reach < horizon && reach < 90.0)) {
    // The roll alone past the horizon is its own fault; else the camera's field is too wide
    // for the roll (when given), else the roll too large for the camera.
    const double limit = std::min(horizon, 90.0);
    const char* key = s.get("max_roll_deg") && (a.max_roll_deg >= limit || !s.get("camera_fov_deg"))
                          ? "max_roll_deg"
                      : s.get("camera_fov_deg") ? "camera_fov_deg"
                                                : "beta_deg";
    r.bad(*s.get(key), std::string("satellite.") + key,
          "THE CAMERA'S VIEW PASSES THE EARTH'S HORIZON: MAX_ROLL_DEG + CAMERA_FOV_DEG/2 (GIVEN: " +
              number_text(reach) + ") MUST LIE WITHIN " + angle_text(limit) +
              " DEGREES OF NADIR FOR THIS ORBIT.");
  }
  return a;
}

// [schedule]: a schedule is asked for; every satellite then needs its roll rate and, when one
// has a recorder, every station its downlink rate.
void read_schedule(const Reader& r, const toml::node& n, const std::vector<long>& satellite_lines,
                   Plan& plan) {
  if (!n.is_table()) r.bad(n, "schedule", "MUST BE A TABLE [schedule].");
  const toml::table& t = *n.as_table();
  r.known(t, {"time_limit_s"}, "schedule.");
  ScheduleSettings settings;
  if (const toml::node* v = t.get("time_limit_s")) {
    const double x = r.number(*v, "schedule.time_limit_s");
    if (!(x > 0.0 && x <= 604800.0))
      r.bad(*v, "schedule.time_limit_s",
            "MUST LIE ABOVE 0 AND AT MOST 604800 S (GIVEN: " + number_text(x) + ").");
    settings.time_limit_s = x;
  }
  bool recorder = false;
  for (std::size_t i = 0; i < plan.satellites.size(); ++i) {
    const SatelliteAgility& a = plan.satellites[i].agility;
    recorder = recorder || a.recorder_gbit.has_value();
    if (a.roll_rate_deg_s > 0.0) continue;
    fail(r.file, satellite_lines[i], "satellite.roll_rate_deg_s",
         "MISSING KEY \"satellite.roll_rate_deg_s\": [schedule] NEEDS EVERY SATELLITE'S ROLL "
         "RATE.");
  }
  for (const Station& s : plan.stations) {
    if (!recorder || s.downlink_gbit_s) continue;
    fail(r.file, s.line, "station.downlink_gbit_s",
         "MISSING KEY \"station.downlink_gbit_s\": A SCHEDULE WITH A RECORDER EMPTIES IT OVER THE "
         "STATIONS AT THEIR DOWNLINK RATES.");
  }
  plan.schedule = settings;
}

}  // namespace

Plan load_plan(const std::string& path) {
  Reader r{path};
  toml::table root;
  std::string text;
  const FileRead got = read_regular_file(path, kMaxFileBytes, text);
  if (got == FileRead::cannot_open) {
    throw Error(ErrorKind::io,
                {" CANNOT OPEN THE PLAN FILE \"" + path + "\".", " EXECUTION INTERRUPTED."},
                ErrorWhere(path));
  }
  if (got == FileRead::too_large) {
    fail(path, 0, "",
         "THE PLAN FILE IS LARGER THAN " + std::to_string(kMaxFileBytes >> 20) + " MB.");
  }
  require_utf8(path, text);
  require_line_length(path, text);
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    fail(path, static_cast<long>(e.source().begin.line), "",
         "NOT VALID TOML: " + std::string(e.description()) + ".");
  }
  Plan plan;
  plan.path = path;
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  // [coverage] is read once the targets are known (read_coverage): taken out here, before
  // the plan's own keys are checked.
  std::optional<toml::table> coverage;
  long coverage_line = 0;
  if (toml::node* n = root.get("coverage")) {
    if (!n->is_table()) r.bad(*n, "coverage", "MUST BE A TABLE [coverage].");
    coverage_line = r.line_of(*n);
    coverage = std::move(*n->as_table());  // its values keep their places in the file
    root.erase("coverage");
  }
  r.known(root,
          {"start", "end", "utc_offset_hours", "step_s", "earth_orientation", "targets", "rule",
           "output", "satellite", "constraints", "station", "schedule"},
          "");
  const toml::node& top = root;
  // utc_offset first: the times need it.
  const toml::node& off = r.need(root, "utc_offset_hours", "", top);
  plan.interval.utc_offset_hours = r.number(off, "utc_offset_hours");
  if (check_utc_offset(plan.interval.utc_offset_hours)) {
    r.bad(off, "utc_offset_hours",
          "MUST LIE BETWEEN -24 AND 24 HOURS (GIVEN: " +
              number_text(plan.interval.utc_offset_hours) + ").");
  }
  for (const char* key : {"start", "end"}) {
    const toml::node& n = r.need(root, key, "", top);
    const std::string text = local_text(r, n, key);
    UtcInstant t{};
    try {
      t = parse_date_time(text, key, r.line_of(n));
    } catch (const Error&) {
      r.bad(n, key, "IS NOT A POSSIBLE DATE AND TIME.");
    }
    t.seconds -= plan.interval.utc_offset_hours * 3600.0;
    t = normalise(t);
    if (std::string(key) == "start") {
      plan.start_local = text;
      plan.interval.start = t;
    } else {
      plan.end_local = text;
      plan.interval.end = t;
    }
  }
  {
    const toml::node& n = r.need(root, "step_s", "", top);
    const double step = r.number(n, "step_s");
    if (check_step(step)) {
      r.bad(n, "step_s", "MUST LIE BETWEEN 0.001 AND 86400 S (GIVEN: " + number_text(step) + ").");
    }
    plan.interval.step_s = step;
  }
  plan.earth_orientation_path =
      resolve(dir, r.text(r.need(root, "earth_orientation", "", top), "earth_orientation"));
  plan.targets_path = resolve(dir, r.text(r.need(root, "targets", "", top), "targets"));
  plan.output_dir = resolve(dir, r.text(r.need(root, "output", "", top), "output"));
  if (const toml::node* n = root.get("rule")) {
    const std::string rule = r.text(*n, "rule");
    if (rule == "swath")
      plan.rule = TargetRule::swath;
    else if (rule == "points")
      plan.rule = TargetRule::points;
    else
      r.bad(*n, "rule", "MUST BE \"swath\" OR \"points\" (GIVEN: \"" + rule + "\").");
  }
  if (const toml::node* n = root.get("constraints")) {
    if (!n->is_table()) r.bad(*n, "constraints", "MUST BE A TABLE [constraints].");
    const toml::table& c = *n->as_table();
    r.known(c, {"min_sun_elevation_deg", "max_abs_best_alpha_deg", "pass", "min_duration_s"},
            "constraints.");
    if (const toml::node* v = c.get("min_sun_elevation_deg")) {
      const double x = r.number(*v, "constraints.min_sun_elevation_deg");
      if (!(std::fabs(x) <= 90.0))
        r.bad(*v, "constraints.min_sun_elevation_deg", "MUST LIE BETWEEN -90 AND 90 DEGREES.");
      plan.constraints.min_sun_elevation_deg = x;
    }
    if (const toml::node* v = c.get("max_abs_best_alpha_deg")) {
      const double x = r.number(*v, "constraints.max_abs_best_alpha_deg");
      if (!(x >= 0.0 && x <= 90.0))
        r.bad(*v, "constraints.max_abs_best_alpha_deg", "MUST LIE BETWEEN 0 AND 90 DEGREES.");
      plan.constraints.max_abs_best_alpha_deg = x;
    }
    if (const toml::node* v = c.get("pass")) {
      const std::string p = r.text(*v, "constraints.pass");
      if (p == "A" || p == "D")
        plan.constraints.pass = p[0];
      else if (p == "any")
        plan.constraints.pass = 0;
      else
        r.bad(*v, "constraints.pass", "MUST BE \"A\", \"D\" OR \"any\" (GIVEN: \"" + p + "\").");
    }
    if (const toml::node* v = c.get("min_duration_s")) {
      const double x = r.number(*v, "constraints.min_duration_s");
      if (!(x >= 0.0 && std::isfinite(x)))
        r.bad(*v, "constraints.min_duration_s", "MUST BE A FINITE NUMBER OF SECONDS, AT LEAST 0.");
      plan.constraints.min_duration_s = x;
    }
  }
  std::vector<long> satellite_lines;
  {
    const toml::node& n = r.need(root, "satellite", "", top);
    if (!n.is_array_of_tables() || n.as_array()->empty())
      r.bad(n, "satellite", "MUST BE ONE OR MORE TABLES [[satellite]].");
    for (const toml::node& sn : *n.as_array()) {
      const toml::table& s = *sn.as_table();
      r.known(s,
              {"name", "elements", "alpha_deg", "beta_deg", "select", "camera_fov_deg",
               "max_roll_deg", "roll_rate_deg_s", "settle_s", "max_imaging_s_per_orbit",
               "recorder_gbit", "imaging_gbit_s", "min_imaging_s"},
              "satellite.");
      PlanSatellite sat;
      sat.name = r.text(r.need(s, "name", "satellite.", sn), "satellite.name");
      if (sat.name.empty()) r.bad(sn, "satellite.name", "MUST NOT BE EMPTY.");
      const toml::node& el = r.need(s, "elements", "satellite.", sn);
      sat.elements_path = resolve(dir, r.text(el, "satellite.elements"));
      const toml::node& an = r.need(s, "alpha_deg", "satellite.", sn);
      const toml::node& bn = r.need(s, "beta_deg", "satellite.", sn);
      sat.sensor.alpha_deg = r.number(an, "satellite.alpha_deg");
      sat.sensor.beta_deg = r.number(bn, "satellite.beta_deg");
      r.finite(an, "satellite.alpha_deg", sat.sensor.alpha_deg);
      r.finite(bn, "satellite.beta_deg", sat.sensor.beta_deg);
      const double lo = sat.sensor.alpha_deg - sat.sensor.beta_deg / 2.0;
      const double hi = sat.sensor.alpha_deg + sat.sensor.beta_deg / 2.0;
      if (check_sensor(sat.sensor)) {
        r.bad(bn, "satellite.beta_deg",
              "ALPHA - BETA/2 AND ALPHA + BETA/2 MUST LIE STRICTLY BETWEEN -90 AND 90 DEGREES "
              "(GIVEN: " +
                  number_text(lo) + " AND " + number_text(hi) + ").");
      }
      bool explicit_select = false;
      if (const toml::node* v = s.get("select")) {
        explicit_select = true;
        if (v->is_string())
          sat.select = *v->value<std::string>();
        else if (v->is_integer())
          sat.select = *v->value<std::int64_t>();
        else
          r.bad(*v, "satellite.select", "MUST BE A NAME (STRING) OR A CATALOGUE NUMBER.");
      } else {
        sat.select = sat.name;
      }
      const std::vector<ElementSet> sets = read_element_file(sat.elements_path);
      std::ptrdiff_t i = find_element_set(sets, sat.select);
      if (i < 0 && !explicit_select && sets.size() == 1) i = 0;
      if (i < 0 || sets.empty()) {
        fail(path, r.line_of(explicit_select ? *s.get("select") : el),
             explicit_select ? "satellite.select" : "satellite.name",
             "NO ELEMENT SET OF \"" + sat.elements_path + "\" IS " +
                 (explicit_select ? "THE ONE \"satellite.select\" NAMES."
                                  : "NAMED \"" + sat.name + "\" (GIVE \"select\")."));
      }
      sat.elements = sets[static_cast<std::size_t>(i)];
      sat.set_number = static_cast<std::size_t>(i) + 1;
      sat.sets_in_file = sets.size();
      const Propagator orbit(sat.elements);
      {
        // A set the model cannot serve (deep space, or failing at the start) is named as
        // such before its horizon is looked at.
        SearchParams sp;
        search_setup(sat.sensor, Box{-180.0, 180.0, -90.0, 90.0}, plan.interval, sp);
        sp.element_file = sat.elements_path;
        try {
          check_orbit_domain(sp, orbit);
        } catch (const Error& e) {
          std::vector<std::string> lines = {" ERROR IN \"" + path + "\", LINE " +
                                            std::to_string(r.line_of(el)) +
                                            ": \"satellite.elements\" GIVES A SET THE MODEL "
                                            "CANNOT SERVE:"};
          lines.insert(lines.end(), e.lines().begin(), e.lines().end());
          throw Error(e.kind(), lines, ErrorWhere(path, "satellite.elements", r.line_of(el)));
        }
      }
      if (auto bad = check_horizon(sat.sensor, orbit)) r.bad(bn, "satellite.beta_deg", bad->text);
      sat.agility =
          read_agility(r, s, sat.sensor, horizon_angle_deg(orbit), root.get("schedule") != nullptr);
      satellite_lines.push_back(r.line_of(sn));
      plan.satellites.push_back(std::move(sat));
    }
  }
  if (const toml::node* n = root.get("station")) read_stations(r, *n, plan.stations);
  if (const toml::node* n = root.get("schedule")) read_schedule(r, *n, satellite_lines, plan);
  plan.targets = read_targets(plan.targets_path);
  plan::check_rule(plan, 0, plan.targets.size());
  if (coverage) read_coverage(r, *coverage, coverage_line, plan);
  return plan;
}

}  // namespace orvus
