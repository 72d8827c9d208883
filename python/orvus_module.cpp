// orvus._core: the core library for Python. The package python/orvus wraps it; what is
// bound here takes plain values (paths, numbers, day numbers and seconds, texts) and gives
// plain values back, and releases the GIL while the library computes, taking it back between
// blocks of steps only to let Python handle signals (Ctrl-C).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvus/analysis.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan.hpp"
#include "orvus/search.hpp"
#include "orvus/time.hpp"

#if ORVUS_HAVE_PLAN
#include <optional>
#include <sstream>

#include "orvus/coverage.hpp"
#include "orvus/plan_schedule.hpp"
#include "outputs/plan_outputs.hpp"
#endif

namespace py = pybind11;

namespace {

// Called between blocks of a computation that runs without the GIL: at most every 50 ms it
// takes the GIL to run Python's signal handlers, and a handler's exception (KeyboardInterrupt
// for Ctrl-C) stops the computation and is raised when the call returns. Python handles
// signals on its main thread only; on other threads this does nothing more, but `also`, when
// given (a task's check that it is still wanted), is called there too and may raise to stop.
class SignalCheck {
 public:
  SignalCheck() = default;
  explicit SignalCheck(py::handle also) : also_(also.is_none() ? py::handle() : also) {}
  void operator()() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(50);
    const py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (also_) also_();
  }

 private:
  std::chrono::steady_clock::time_point next_{};
  py::handle also_;  // held by the caller for the computation
};

// The model's domain, as every command checks it before a search: a deep-space period, or no
// finite state above the ground at `t` (named in local time, UTC + `offset_hours`).
void check_model_domain(const orvus::Propagator& orbit, orvus::UtcInstant t,
                        double offset_hours = 0.0) {
  orvus::check_orbit(orbit, orvus::Interval{t, t, 1.0, offset_hours});
}

// Earth-orientation tables by path and modification time: loaded once per process.
std::shared_ptr<const orvus::EarthOrientation> earth_orientation(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::pair<std::filesystem::file_time_type,
                                         std::shared_ptr<const orvus::EarthOrientation>>>
      cache;
  std::error_code ec;
  const auto stamp = std::filesystem::last_write_time(path, ec);
  const std::lock_guard<std::mutex> lock(mutex);
  const auto it = cache.find(path);
  if (!ec && it != cache.end() && it->second.first == stamp) return it->second.second;
  auto table = std::make_shared<const orvus::EarthOrientation>(orvus::EarthOrientation::load(path));
  if (!ec) cache[path] = {stamp, table};
  return table;
}

// Local date-time text (DD/MM/YYYY HH:MM:SS.sssssssss) to UTC, as the input file's records
// 7 and 8 are read.
orvus::UtcInstant local_to_utc(const std::string& local, double offset_hours, const char* what) {
  orvus::UtcInstant t = orvus::parse_date_time(local, what);
  t.seconds -= offset_hours * 3600.0;
  return orvus::normalise(t);
}

py::object to_datetime(const orvus::UtcInstant& t) {
  const py::module_ datetime = py::module_::import("datetime");
  const py::object base = datetime.attr("datetime")(1950, 1, 1);
  const double micro = std::round(t.seconds * 1.0e6);
  return base + datetime.attr("timedelta")(py::arg("days") = static_cast<long>(t.day),
                                           py::arg("microseconds") = micro);
}

orvus::ElementSet read_elements(const std::string& path, const py::object& select) {
  orvus::ElementSelect which;
  if (py::isinstance<py::str>(select)) {
    which = select.cast<std::string>();
  } else if (py::isinstance<py::int_>(select) && !py::isinstance<py::bool_>(select)) {
    which = select.cast<std::int64_t>();
  } else if (!select.is_none()) {
    throw orvus::Error(orvus::ErrorKind::usage,
                       {" SELECT MUST BE A NAME, A CATALOGUE NUMBER OR None."});
  }
  const py::gil_scoped_release unlocked;
  return orvus::read_elements(path, which);
}

// States (m, m/s, true of date) at the UTC instants day[i] + seconds[i].
py::array_t<double> propagate(
    const orvus::ElementSet& elements,
    const py::array_t<double, py::array::c_style | py::array::forcecast>& days,
    const py::array_t<double, py::array::c_style | py::array::forcecast>& seconds) {
  if (days.ndim() != 1 || seconds.ndim() != 1 || days.shape(0) != seconds.shape(0))
    throw orvus::Error(orvus::ErrorKind::usage, {" THE TIMES MUST BE A ONE-DIMENSIONAL ARRAY."});
  const auto n = days.shape(0);
  py::array_t<double> out({n, static_cast<py::ssize_t>(6)});
  const double* d = days.data();
  const double* s = seconds.data();
  double* o = out.mutable_data();
  {
    const py::gil_scoped_release unlocked;
    const orvus::Propagator orbit(elements);
    check_model_domain(orbit, elements.epoch);
    constexpr py::ssize_t kBlock = 1 << 16;
    SignalCheck check_signals;
    for (py::ssize_t first = 0; first < n; first += kBlock) {
      const py::ssize_t last = std::min(n, first + kBlock);
      for (py::ssize_t i = first; i < last; ++i) {
        const orvus::StateVector v = orbit.state_at(orvus::UtcInstant{d[i], s[i]});
        for (int k = 0; k < 6; ++k) o[i * 6 + k] = v[static_cast<std::size_t>(k)];
      }
      check_signals();
    }
  }
  return out;
}

// One row of the opportunities' table.
struct Row {
  int number = 0;
  std::string start_utc, end_utc, start_local, end_local;
  double duration_s = 0.0;
  std::string best_utc, best_local;
  double best_alpha_deg = 0.0, distance_deg = 0.0;
  char pass = 'D';
  double sun_elevation_deg = 0.0, coverage = 0.0, element_age_days = 0.0;
};

// The contacts of one box by the three tracking points, as `orvus` finds them, with their
// daylight, coverage and element age; columns of opportunities.csv by name.
py::dict contacts_points(const orvus::ElementSet& elements, const std::array<double, 4>& box_in,
                         const std::string& start_local, const std::string& end_local,
                         double step_s, double alpha_deg, double beta_deg, double offset_hours,
                         const std::string& eop_path, const std::string& target_id,
                         const std::string& target_name) {
  std::vector<Row> rows;
  {
    const py::gil_scoped_release unlocked;
    // The settings by the library's checks, each named by its argument.
    const orvus::Sensor sensor{alpha_deg, beta_deg};
    auto raise = [](const char* argument, const orvus::SettingProblem& problem) {
      throw orvus::Error(problem.kind, {std::string(" ") + argument + ": " + problem.text});
    };
    if (auto bad = orvus::check_step(step_s)) raise("STEP_S", *bad);
    if (auto bad = orvus::check_utc_offset(offset_hours)) raise("UTC_OFFSET_HOURS", *bad);
    if (auto bad = orvus::check_sensor(sensor)) raise("ALPHA_DEG, BETA_DEG", *bad);
    const orvus::Interval interval{local_to_utc(start_local, offset_hours, "START"),
                                   local_to_utc(end_local, offset_hours, "END"), step_s,
                                   offset_hours};
    const auto eop = earth_orientation(eop_path);
    const orvus::Satellite satellite{orvus::Propagator(elements), sensor};
    // A deep-space set is named as such before its horizon is worked out.
    check_model_domain(satellite.orbit, interval.start, offset_hours);
    if (auto bad = orvus::check_horizon(sensor, satellite.orbit))
      raise("ALPHA_DEG, BETA_DEG", *bad);
    const orvus::Box box{box_in[0], box_in[1], box_in[2], box_in[3]};
    orvus::Target target;
    target.box = box;
    target.centre = {(box.lon1 + box.lon2) / 2.0, (box.lat1 + box.lat2) / 2.0};
    std::vector<orvus::GroundPoint> side1, side2;
    orvus::SearchOptions options;
    options.between_blocks = SignalCheck();
    for (const orvus::Contact& c : orvus::find_contacts(satellite, box, interval, *eop, options)) {
      if (!c.closed) continue;  // no best time: not an opportunity
      side1.clear();
      side2.clear();
      for (const orvus::ContactStep& s : c.steps) {
        side1.push_back(s.geodetic[1]);
        side2.push_back(s.geodetic[2]);
      }
      Row r;
      r.number = c.number;
      r.start_utc = orvus::iso_time(c.start_utc);
      r.end_utc = orvus::iso_time(c.end_utc);
      r.start_local = orvus::iso_time(c.start_local, offset_hours);
      r.end_local = orvus::iso_time(c.end_local, offset_hours);
      r.duration_s = c.duration_s;
      r.best_utc = orvus::iso_time(c.best_utc);
      r.best_local = orvus::iso_time(c.best_local, offset_hours);
      r.best_alpha_deg = c.best_alpha_deg;
      r.distance_deg = c.distance_deg;
      r.pass = c.pass;
      const orvus::OpportunityFigures f = orvus::opportunity_figures(
          target, elements, c.best_utc, side1, side2, orvus::sun_earth_fixed(c.best_utc));
      r.sun_elevation_deg = f.sun_elevation_deg;
      r.coverage = f.coverage;
      r.element_age_days = f.element_age_days;
      rows.push_back(std::move(r));
    }
  }
  py::list cols[18];
  for (const Row& r : rows) {
    const py::object values[18] = {py::str(elements.name),
                                   py::int_(elements.catalogue_number),
                                   py::str(target_id),
                                   py::str(target_name),
                                   py::int_(r.number),
                                   py::str(r.start_utc),
                                   py::str(r.end_utc),
                                   py::str(r.start_local),
                                   py::str(r.end_local),
                                   py::float_(r.duration_s),
                                   py::str(r.best_utc),
                                   py::str(r.best_local),
                                   py::float_(r.best_alpha_deg),
                                   py::float_(r.distance_deg),
                                   py::str(std::string(1, r.pass)),
                                   py::float_(r.sun_elevation_deg),
                                   py::float_(r.coverage),
                                   py::float_(r.element_age_days)};
    for (int k = 0; k < 18; ++k) cols[k].append(values[k]);
  }
  static const char* const names[18] = {
      "satellite",         "norad_id",        "target_id",       "target_name",  "contact",
      "start_utc",         "end_utc",         "start_local",     "end_local",    "duration_s",
      "best_time_utc",     "best_time_local", "best_alpha_deg",  "distance_deg", "pass",
      "sun_elevation_deg", "coverage",        "element_age_days"};
  py::dict out;
  for (int k = 0; k < 18; ++k) out[names[k]] = cols[k];
  return out;
}

#if ORVUS_HAVE_PLAN
// The last plan loaded by this process, by path and modification time: the tasks of one
// plan on one worker read it once.
std::shared_ptr<const orvus::Plan> cached_plan(const std::string& path) {
  static std::mutex mutex;
  static std::string last_path;
  static std::filesystem::file_time_type last_stamp;
  static std::shared_ptr<const orvus::Plan> last;
  std::error_code ec;
  const auto stamp = std::filesystem::last_write_time(path, ec);
  const std::lock_guard<std::mutex> lock(mutex);
  if (!ec && last && last_path == path && last_stamp == stamp) return last;
  auto plan = std::make_shared<const orvus::Plan>(orvus::load_plan(path));
  if (!ec) {
    last_path = path;
    last_stamp = stamp;
    last = plan;
  }
  return plan;
}

// The coverage grid of a plan read by cached_plan: built once per plan and process (the land
// of the map data supplied as orvus-plan supplies it).
std::shared_ptr<const orvus::CoverageGrid> cached_grid(
    const std::shared_ptr<const orvus::Plan>& plan) {
  static std::mutex mutex;
  static std::weak_ptr<const orvus::Plan> of;
  static std::shared_ptr<const orvus::CoverageGrid> grid;
  const std::lock_guard<std::mutex> lock(mutex);
  if (grid && of.lock() == plan) return grid;
  grid = std::make_shared<const orvus::CoverageGrid>(orvus::plan_outputs::coverage_grid(*plan));
  of = plan;
  return grid;
}

// opportunities.csv as text, written in slices of rows with Python's signals checked between
// them (called without the GIL): hundreds of thousands of rows take seconds.
std::string opportunities_csv(const orvus::Plan& plan,
                              const std::vector<orvus::Opportunity>& kept) {
  constexpr std::size_t kSlice = 8192;
  SignalCheck check_signals;
  std::string text;
  std::vector<orvus::Opportunity> slice;
  for (std::size_t first = 0; first == 0 || first < kept.size(); first += kSlice) {
    const auto from = kept.begin() + static_cast<std::ptrdiff_t>(first);
    slice.assign(from, from + static_cast<std::ptrdiff_t>(std::min(kSlice, kept.size() - first)));
    std::ostringstream out;
    orvus::write_opportunities_csv(plan, slice, out);
    const std::string part = std::move(out).str();
    text.append(part, first == 0 ? 0 : part.find('\n') + 1);  // the header once
    check_signals();
  }
  return text;
}

py::dict plan_info(const std::string& path) {
  std::shared_ptr<const orvus::Plan> plan;
  {
    const py::gil_scoped_release unlocked;
    plan = cached_plan(path);
  }
  py::list satellites, targets;
  for (const auto& s : plan->satellites) satellites.append(s.name);
  for (const auto& t : plan->targets) targets.append(t.id);
  py::dict out;
  out["satellites"] = satellites;
  out["targets"] = targets;
  out["output"] = plan->output_dir;
  std::size_t cells = 0;
  if (plan->coverage) {
    const py::gil_scoped_release unlocked;
    cells = cached_grid(plan)->cells.size();
  }
  out["cells"] = cells;
  out["coverage"] = plan->coverage.has_value();
  return out;
}

// The whole plan on this machine: the table orvus-plan writes as opportunities.csv, and the
// plan's UTC offset (hours).
std::pair<std::string, double> plan_csv(const std::string& path) {
  const py::gil_scoped_release unlocked;
  const orvus::Plan plan = orvus::load_plan(path);
  const orvus::EarthOrientation eop = orvus::EarthOrientation::load(plan.earth_orientation_path);
  SignalCheck check_signals;
  const auto kept = orvus::run_plan(plan, eop, nullptr, [&](double) { check_signals(); });
  return {opportunities_csv(plan, kept), plan.interval.utc_offset_hours};
}

// The whole plan on this machine with every table orvus-plan writes: opportunities.csv,
// passes.csv (its header alone without stations) and, with [schedule], schedule.csv,
// unscheduled.csv and schedule.json; and the plan's UTC offset (hours).
py::dict plan_tables(const std::string& path) {
  std::map<std::string, std::string> texts;
  double offset = 0.0;
  {
    const py::gil_scoped_release unlocked;
    const orvus::Plan plan = orvus::load_plan(path);
    offset = plan.interval.utc_offset_hours;
    const auto eop = earth_orientation(plan.earth_orientation_path);
    SignalCheck check_signals;
    const auto kept = orvus::run_plan(plan, *eop, nullptr, [&](double) { check_signals(); });
    texts["opportunities"] = opportunities_csv(plan, kept);
    const auto passes = orvus::plan_passes(plan, *eop);
    std::ostringstream p;
    orvus::write_passes_csv(plan, passes, p);
    texts["passes"] = std::move(p).str();
    if (plan.schedule) {
      const orvus::PlanSchedule s =
          orvus::schedule_plan(plan, *eop, kept, passes, [&](double) { check_signals(); });
      std::ostringstream a, u, j;
      orvus::write_schedule_csv(plan, passes, s, a);
      orvus::write_unscheduled_csv(plan, s, u);
      orvus::write_schedule_json(plan, s, j);
      texts["schedule"] = std::move(a).str();
      texts["unscheduled"] = std::move(u).str();
      texts["summary"] = std::move(j).str();
    }
  }
  py::dict out;
  for (const auto& [k, v] : texts) out[py::str(k)] = v;
  out["utc_offset_hours"] = offset;
  return out;
}

// The passes over the plan's stations: the table orvus-plan writes as passes.csv (its header
// alone when the plan has none), and the plan's UTC offset (hours).
std::pair<std::string, double> plan_passes_csv(const std::string& path) {
  const py::gil_scoped_release unlocked;
  const orvus::Plan plan = orvus::load_plan(path);
  const auto eop = earth_orientation(plan.earth_orientation_path);
  std::ostringstream out;
  orvus::write_passes_csv(plan, orvus::plan_passes(plan, *eop), out);
  return {std::move(out).str(), plan.interval.utc_offset_hours};
}

// One task of a plan spread over processes: satellite `satellite` over targets [first, last).
// `check`, when not None, is called between blocks and raises to stop the task.
py::bytes plan_chunk(const std::string& path, std::size_t satellite, std::size_t first,
                     std::size_t last, const py::object& check) {
  std::string bytes;
  {
    SignalCheck check_signals(check);
    const py::gil_scoped_release unlocked;
    const auto plan = cached_plan(path);
    if (satellite >= plan->satellites.size() || first > last || last > plan->targets.size()) {
      throw orvus::Error(orvus::ErrorKind::usage,
                         {" NO SUCH SATELLITE OR TARGET RANGE IN THE PLAN \"" + path + "\"."});
    }
    const auto eop = earth_orientation(plan->earth_orientation_path);
    bytes = orvus::serialize_opportunities(orvus::plan_opportunities(
        *plan, *eop, satellite, first, last, [&](double) { check_signals(); }));
  }
  return py::bytes(bytes);
}

// A plan's [coverage] on this machine: the texts of coverage_cells.csv, coverage.csv,
// coverage_summary.csv and, when asked, coverage_cells.geojson; and the plan's UTC offset.
py::tuple plan_coverage(const std::string& path, bool geojson) {
  std::string cells, curve, summary, features;
  double offset = 0.0;
  {
    const py::gil_scoped_release unlocked;
    const orvus::Plan plan = orvus::load_plan(path);
    const orvus::CoverageGrid grid = orvus::plan_outputs::coverage_grid(plan);
    const auto eop = earth_orientation(plan.earth_orientation_path);
    SignalCheck check_signals;
    const orvus::CoverageResult r =
        orvus::run_coverage(plan, *eop, grid, [&](double) { check_signals(); });
    std::ostringstream a, b, c, d;
    orvus::write_coverage_cells_csv(plan, grid, r, a);
    orvus::write_coverage_csv(plan, grid, r, b);
    orvus::write_coverage_summary_csv(plan, grid, r, c);
    if (geojson) orvus::write_coverage_cells_geojson(plan, grid, r, d);
    cells = std::move(a).str();
    curve = std::move(b).str();
    summary = std::move(c).str();
    features = std::move(d).str();
    offset = plan.interval.utc_offset_hours;
  }
  return py::make_tuple(cells, curve, summary, features, offset);
}

// One coverage task of a plan spread over processes: satellite `satellite` over the grid's
// cells [first, last), as the library's bytes; `check` as for plan_chunk.
py::bytes coverage_chunk(const std::string& path, std::size_t satellite, std::size_t first,
                         std::size_t last, const py::object& check) {
  std::string bytes;
  {
    SignalCheck check_signals(check);
    const py::gil_scoped_release unlocked;
    const auto plan = cached_plan(path);
    const auto grid = cached_grid(plan);
    if (satellite >= plan->satellites.size() || first > last || last > grid->cells.size()) {
      throw orvus::Error(orvus::ErrorKind::usage,
                         {" NO SUCH SATELLITE OR CELL RANGE IN THE PLAN \"" + path + "\"."});
    }
    const auto eop = earth_orientation(plan->earth_orientation_path);
    bytes = orvus::serialize_coverage_accesses(orvus::coverage_accesses(
        *plan, *eop, *grid, satellite, first, last, [&](double) { check_signals(); }));
  }
  return py::bytes(bytes);
}

// The output folder of a plan run on a cluster, opened before its tasks: made, locked and
// checked at once, then the parts joined, the constraints applied and every file written and
// put in place together, as orvus-plan does.
class PlanOutputs {
 public:
  PlanOutputs(const std::string& path, const std::string& output) {
    const py::gil_scoped_release unlocked;
    plan_ = cached_plan(path);
    dir_ = output.empty() ? plan_->output_dir : output;
    folder_ = std::make_unique<orvus::plan_outputs::OutputFolder>(*plan_, dir_, false);
  }

  py::dict finish(const std::vector<std::string>& parts,
                  const std::vector<std::string>& coverage_parts) {
    if (!folder_) {
      throw orvus::Error(orvus::ErrorKind::usage, {" THE PLAN'S OUTPUT FOLDER IS CLOSED."});
    }
    orvus::PlanCounts counts;
    std::optional<orvus::CoverageResult> coverage;
    std::size_t passes = 0;
    std::optional<orvus::PlanSchedule> schedule;
    {
      const py::gil_scoped_release unlocked;
      std::vector<orvus::Opportunity> all;
      for (const std::string& part : parts) {
        auto list = orvus::deserialize_opportunities(part);
        for (auto& o : list) all.push_back(std::move(o));
      }
      const auto kept = orvus::select_opportunities(*plan_, std::move(all), &counts);
      std::shared_ptr<const orvus::CoverageGrid> grid;
      if (plan_->coverage) {
        grid = cached_grid(plan_);
        std::vector<orvus::CoverageAccesses> accesses;
        accesses.reserve(coverage_parts.size());
        for (const std::string& part : coverage_parts)
          accesses.push_back(orvus::deserialize_coverage_accesses(part));
        coverage = orvus::coverage_statistics(*plan_, *grid, accesses);
      }
      std::vector<orvus::PlanPass> list;
      if (!plan_->stations.empty() || plan_->schedule) {
        const auto eop = earth_orientation(plan_->earth_orientation_path);
        if (!plan_->stations.empty()) {
          list = orvus::plan_passes(*plan_, *eop);
          passes = list.size();
          folder_->write_passes(*plan_, list);
        }
        // The schedule, here on the client, from every task's opportunities (Ctrl-C stops it).
        if (plan_->schedule) {
          SignalCheck check_signals;
          schedule =
              orvus::schedule_plan(*plan_, *eop, kept, list, [&](double) { check_signals(); });
          folder_->write_schedule(*plan_, list, *schedule);
        }
      }
      folder_->write_opportunities(*plan_, kept, grid.get(), coverage ? &*coverage : nullptr);
      if (coverage) folder_->write_coverage(*plan_, *grid, *coverage);
      folder_->commit();
      folder_.reset();
    }
    py::dict out;
    out["found"] = counts.found;
    out["kept"] = counts.kept;
    out["by_sun"] = counts.by_sun;
    out["by_alpha"] = counts.by_alpha;
    out["by_pass"] = counts.by_pass;
    out["by_duration"] = counts.by_duration;
    out["stations"] = plan_->stations.size();
    out["passes"] = passes;
    out["output"] = dir_;
    if (coverage) {
      out["cells"] = coverage->cells.size();
      out["coverage_found"] = coverage->found;
      out["coverage_kept"] = coverage->kept;
      out["coverage_by_sun"] = coverage->by_sun;
      out["coverage_by_alpha"] = coverage->by_alpha;
      out["coverage_by_pass"] = coverage->by_pass;
    }
    if (schedule) out["schedule"] = orvus::schedule_summary(*plan_, *schedule);
    return out;
  }

  // Unlocks the folder; the temporaries of a run not finished are removed.
  void close() {
    const py::gil_scoped_release unlocked;
    folder_.reset();
  }

 private:
  std::shared_ptr<const orvus::Plan> plan_;
  std::string dir_;
  std::unique_ptr<orvus::plan_outputs::OutputFolder> folder_;
};

// One target (read from `targets_path`, a one-row CSV or one-feature GeoJSON) for one
// element set as a one-target plan without constraints: the opportunities.csv text.
std::string contacts_plan(const orvus::ElementSet& elements, const std::string& targets_text,
                          const std::string& start_local, const std::string& end_local,
                          double step_s, double alpha_deg, double beta_deg, double offset_hours,
                          const std::string& eop_path, const std::string& rule) {
  const py::gil_scoped_release unlocked;
  orvus::Plan plan;
  plan.start_local = start_local;
  plan.end_local = end_local;
  plan.interval =
      orvus::Interval{local_to_utc(start_local, offset_hours, "START"),
                      local_to_utc(end_local, offset_hours, "END"), step_s, offset_hours};
  plan.earth_orientation_path = eop_path;
  plan.targets_path = "TARGET";
  plan.rule = rule == "swath" ? orvus::TargetRule::swath : orvus::TargetRule::points;
  orvus::PlanSatellite satellite;
  satellite.name = elements.name;
  satellite.sensor = orvus::Sensor{alpha_deg, beta_deg};
  satellite.elements = elements;
  plan.satellites.push_back(std::move(satellite));
  plan.targets = orvus::parse_targets(targets_text, "TARGET");
  const auto eop = earth_orientation(eop_path);
  SignalCheck check_signals;
  auto all = orvus::plan_opportunities(plan, *eop, 0, 0, plan.targets.size(),
                                       [&](double) { check_signals(); });
  return opportunities_csv(plan, orvus::select_opportunities(plan, std::move(all)));
}
#endif

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "ORVUS core library: element sets, SGP8, contacts and plans";

  // Held for the life of the process: never released after the interpreter has ended.
  static const py::handle error =
      py::exception<orvus::Error>(m, "Error", PyExc_ValueError).release();
  // pybind11 takes translators of this exact signature.
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const orvus::Error& e) {
      // The lines the commands print, without their leading blank, one a line.
      std::string message;
      py::list lines;
      for (const std::string& l : e.lines()) {
        lines.append(l);
        const auto first = l.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        if (!message.empty()) message.push_back('\n');
        message.append(l, first, std::string::npos);
      }
      py::object instance = error(py::str(message));
      instance.attr("lines") = lines;
      PyErr_SetObject(error.ptr(), instance.ptr());
    }
  });

  py::class_<orvus::ElementSet>(m, "ElementSet")
      .def_readonly("name", &orvus::ElementSet::name)
      .def_readonly("catalogue_number", &orvus::ElementSet::catalogue_number)
      .def_readonly("international_designator", &orvus::ElementSet::international_designator)
      .def_readonly("revolution_number", &orvus::ElementSet::revolution_number)
      .def_property_readonly("epoch",
                             [](const orvus::ElementSet& e) { return to_datetime(e.epoch); })
      .def_readonly("mean_motion", &orvus::ElementSet::mean_motion, "rad/s")
      .def_readonly("eccentricity", &orvus::ElementSet::eccentricity)
      .def_readonly("inclination", &orvus::ElementSet::inclination, "rad")
      .def_readonly("raan", &orvus::ElementSet::raan, "rad")
      .def_readonly("arg_perigee", &orvus::ElementSet::arg_perigee, "rad")
      .def_readonly("mean_anomaly", &orvus::ElementSet::mean_anomaly, "rad")
      .def_readonly("bstar", &orvus::ElementSet::bstar, "1 / Earth radii")
      .def_readonly("mean_motion_dot", &orvus::ElementSet::mean_motion_dot, "rev/day^2")
      .def_readonly("mean_motion_ddot", &orvus::ElementSet::mean_motion_ddot, "rev/day^3")
      .def("__repr__", [](const orvus::ElementSet& e) {
        return "<orvus.ElementSet " + e.name + " (" + std::to_string(e.catalogue_number) + ")>";
      });

  m.def("read_elements", &read_elements, py::arg("path"), py::arg("select") = py::none());
  m.def("_propagate", &propagate);
  m.def("_contacts_points", &contacts_points);
#if ORVUS_HAVE_PLAN
  m.attr("_have_plan") = true;
  m.def("_plan_info", &plan_info);
  m.def("_plan_csv", &plan_csv);
  m.def("_plan_passes_csv", &plan_passes_csv);
  m.def("_plan_tables", &plan_tables);
  m.def("_plan_chunk", &plan_chunk, py::arg("path"), py::arg("satellite"), py::arg("first"),
        py::arg("last"), py::arg("check") = py::none());
  py::class_<PlanOutputs>(m, "_PlanOutputs")
      .def(py::init<const std::string&, const std::string&>(), py::arg("path"),
           py::arg("output") = std::string())
      .def("finish", &PlanOutputs::finish, py::arg("parts"),
           py::arg("coverage_parts") = std::vector<std::string>())
      .def("close", &PlanOutputs::close);
  m.def("_contacts_plan", &contacts_plan);
  m.def("_plan_coverage", &plan_coverage);
  m.def("_coverage_chunk", &coverage_chunk, py::arg("path"), py::arg("satellite"), py::arg("first"),
        py::arg("last"), py::arg("check") = py::none());
#else
  m.attr("_have_plan") = false;
#endif
}
