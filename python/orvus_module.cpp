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
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvus/analysis.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_tables.hpp"
#include "orvus/search.hpp"
#include "orvus/time.hpp"

#if ORVUS_HAVE_PLAN
#include <sstream>

#include "orvus/coverage.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/planner.hpp"
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

// A table's rows as typed columns, gathered without the GIL (texts kept once each, times as
// nanoseconds since 1970 of the wall clock the table writes, reals as the table writes them or,
// `exact`, as computed); columns() turns them into numpy arrays, with the GIL. `check`, when
// given, is called every few thousand rows (to let Python handle Ctrl-C).
class Columns final : public orvus::RowSink {
 public:
  explicit Columns(orvus::PlanTable table, SignalCheck* check = nullptr, bool exact = false)
      : cursor_(table), data_(cursor_.columns().size()), check_(check), exact_(exact) {}

  void text(std::string_view v) override {
    cursor_.next(Value::text);
    put_text(v);
  }
  void integer(std::int64_t v) override {
    cursor_.next(Value::integer);
    data_[cursor_.index()].numbers.push_back(v);
  }
  void real(double v) override {
    const orvus::Column& c = cursor_.next(Value::real);
    data_[cursor_.index()].reals.push_back(exact_ ? v : orvus::written_value(c, v));
  }
  void time(const orvus::UtcInstant& t) override {
    cursor_.next(Value::time);
    data_[cursor_.index()].numbers.push_back(orvus::iso_time_ms(t) * kNsPerMs);
  }
  void none() override {
    const orvus::Column& c = cursor_.next(Value::none);
    Data& d = data_[cursor_.index()];
    switch (c.type) {
      case orvus::ColumnType::text:
        put_text({});
        break;
      case orvus::ColumnType::real:
        d.reals.push_back(std::numeric_limits<double>::quiet_NaN());
        break;
      case orvus::ColumnType::utc_time:
      case orvus::ColumnType::local_time:
        d.numbers.push_back(kNaT);
        break;
      case orvus::ColumnType::integer:
        throw std::logic_error("an integer column has no missing value");
    }
  }
  void end_row() override {
    cursor_.end_row();
    if (++rows_ % 8192 == 0 && check_ != nullptr) (*check_)();
  }

  // [(name, type, values)] in the table's order: values a numpy array of objects (texts),
  // int64 (integers; times as nanoseconds since 1970, NaT where none) or float64. Called with
  // the GIL; Python's signals are checked while the texts are made.
  py::list columns() const {
    static const char* const kTypes[] = {"text", "integer", "real", "utc_time", "local_time"};
    const py::module_ numpy = py::module_::import("numpy");
    py::list out;
    for (std::size_t k = 0; k < data_.size(); ++k) {
      const orvus::Column& c = cursor_.columns()[k];
      const Data& d = data_[k];
      py::object values;
      if (c.type == orvus::ColumnType::text) {
        std::vector<py::str> distinct;
        distinct.reserve(d.texts.size());
        for (const std::string& t : d.texts) distinct.emplace_back(t);
        py::array array = numpy.attr("empty")(d.codes.size(), py::arg("dtype") = "O");
        auto** items = static_cast<PyObject**>(array.mutable_data());
        for (std::size_t i = 0; i < d.codes.size(); ++i) {
          PyObject* item = distinct[d.codes[i]].ptr();
          Py_INCREF(item);
          Py_XDECREF(items[i]);
          items[i] = item;
          if (i % 65536 == 65535 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
        values = array;
      } else if (c.type == orvus::ColumnType::real) {
        values = py::array_t<double>(static_cast<py::ssize_t>(d.reals.size()), d.reals.data());
      } else {
        values =
            py::array_t<std::int64_t>(static_cast<py::ssize_t>(d.numbers.size()), d.numbers.data());
      }
      out.append(py::make_tuple(std::string(c.name), kTypes[static_cast<int>(c.type)], values));
    }
    return out;
  }

 private:
  using Value = orvus::ColumnCursor::Value;
  static constexpr std::int64_t kNsPerMs = 1'000'000;
  static constexpr std::int64_t kNaT = std::numeric_limits<std::int64_t>::min();
  struct Data {
    std::vector<std::int64_t> numbers;
    std::vector<double> reals;
    std::vector<std::string> texts;              // each text once
    std::map<std::string, std::uint32_t> index;  // text -> its place in `texts`
    std::vector<std::uint32_t> codes;            // per row: the place of its text
  };
  void put_text(std::string_view v) {
    Data& d = data_[cursor_.index()];
    // Rows of one satellite or target follow each other: the last text is tried first.
    if (!d.codes.empty() && d.texts[d.codes.back()] == v) {
      d.codes.push_back(d.codes.back());
      return;
    }
    const auto [it, added] =
        d.index.try_emplace(std::string(v), static_cast<std::uint32_t>(d.texts.size()));
    if (added) d.texts.emplace_back(v);
    d.codes.push_back(it->second);
  }
  orvus::ColumnCursor cursor_;
  std::vector<Data> data_;
  SignalCheck* check_;
  bool exact_;
  std::size_t rows_ = 0;
};

// The contacts of one box by the three tracking points, as `orvus` finds them, with their
// daylight, coverage and element age: the columns of opportunities.csv, the numbers as computed
// (not rounded to the table's decimals).
py::list contacts_points(const orvus::ElementSet& elements, const std::array<double, 4>& box_in,
                         const std::string& start_local, const std::string& end_local,
                         double step_s, double alpha_deg, double beta_deg, double offset_hours,
                         const std::string& eop_path, const std::string& target_id,
                         const std::string& target_name) {
  SignalCheck check_signals;
  Columns table(orvus::PlanTable::opportunities, &check_signals, true);
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
    // The rows name the satellite and the target as a plan of them would.
    orvus::Plan plan;
    plan.interval = interval;
    orvus::PlanSatellite& s = plan.satellites.emplace_back();
    s.name = elements.name;
    s.elements = elements;
    orvus::Target& target = plan.targets.emplace_back();
    target.id = target_id;
    target.name = target_name;
    target.box = box;
    target.centre = {(box.lon1 + box.lon2) / 2.0, (box.lat1 + box.lat2) / 2.0};
    std::vector<orvus::GroundPoint> side1, side2;
    orvus::SearchOptions options;
    options.between_blocks = SignalCheck();
    std::vector<orvus::Opportunity> found(1);
    for (orvus::Contact& c : orvus::find_contacts(satellite, box, interval, *eop, options)) {
      if (!c.closed) continue;  // no best time: not an opportunity
      side1.clear();
      side2.clear();
      for (const orvus::ContactStep& step : c.steps) {
        side1.push_back(step.geodetic[1]);
        side2.push_back(step.geodetic[2]);
      }
      const orvus::OpportunityFigures f = orvus::opportunity_figures(
          target, elements, c.best_utc, side1, side2, orvus::sun_earth_fixed(c.best_utc));
      orvus::Opportunity& o = found[0];
      c.steps.clear();
      o.contact = std::move(c);
      o.sun_elevation_deg = f.sun_elevation_deg;
      o.coverage = f.coverage;
      o.element_age_days = f.element_age_days;
      orvus::opportunity_rows(plan, found, table);
    }
  }
  return table.columns();
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

// The tables a caller asks for by name, and the steps of the run that makes them.
std::vector<orvus::PlanTable> tables_named(const std::vector<std::string>& names,
                                           orvus::PlanSteps& steps) {
  steps = {false, false, false, false};
  std::vector<orvus::PlanTable> out;
  for (const std::string& name : names) {
    const auto* it = std::find_if(std::begin(orvus::kPlanTables), std::end(orvus::kPlanTables),
                                  [&](orvus::PlanTable t) { return orvus::table_name(t) == name; });
    if (it == std::end(orvus::kPlanTables)) {
      throw orvus::Error(orvus::ErrorKind::usage, {" NO TABLE \"" + name + "\"."});
    }
    out.push_back(*it);
    switch (*it) {
      case orvus::PlanTable::opportunities:
        steps.opportunities = true;
        break;
      case orvus::PlanTable::passes:
        steps.passes = true;
        break;
      case orvus::PlanTable::schedule:
      case orvus::PlanTable::unscheduled:
        steps.schedule = true;
        break;
      case orvus::PlanTable::coverage_cells:
      case orvus::PlanTable::coverage:
      case orvus::PlanTable::coverage_summary:
        steps.coverage = true;
        break;
    }
  }
  return out;
}

// A plan (TOML) run on this machine for the tables named (see orvus::PlanTable), which it
// gives as typed columns; with the schedule's tables the text of schedule.json ("summary",
// None without [schedule]), with `geojson` that of coverage_cells.geojson ("geojson"); and the
// plan's UTC offset (hours).
py::dict run_plan(const std::string& path, const std::vector<std::string>& names, bool geojson) {
  orvus::PlanSteps steps;
  const std::vector<orvus::PlanTable> tables = tables_named(names, steps);
  SignalCheck check_signals;
  std::vector<Columns> columns;
  columns.reserve(tables.size());
  std::optional<std::string> summary, features;
  double offset = 0.0;
  {
    const py::gil_scoped_release unlocked;
    const orvus::Plan plan = orvus::load_plan(path);
    offset = plan.interval.utc_offset_hours;
    std::optional<orvus::CoverageGrid> grid;  // raises for a plan without [coverage]
    if (steps.coverage) grid = orvus::plan_outputs::coverage_grid(plan);
    const auto eop = earth_orientation(plan.earth_orientation_path);
    const orvus::PlanRun run =
        orvus::run_planner(plan, *eop, grid ? &*grid : nullptr, steps,
                           [&](orvus::PlanStage, double) { check_signals(); });
    for (const orvus::PlanTable table : tables) {
      orvus::run_table_rows(table, plan, run, grid ? &*grid : nullptr,
                            columns.emplace_back(table, &check_signals));
    }
    if (steps.schedule && run.schedule) {
      std::ostringstream text;
      orvus::write_schedule_json(plan, *run.schedule, text);
      summary = std::move(text).str();
    }
    if (geojson && run.coverage) {
      std::ostringstream text;
      orvus::write_coverage_cells_geojson(plan, *grid, *run.coverage, text);
      features = std::move(text).str();
    }
  }
  py::dict out;
  for (std::size_t k = 0; k < tables.size(); ++k) {
    out[py::str(std::string(orvus::table_name(tables[k])))] = columns[k].columns();
  }
  out["summary"] = summary ? py::object(py::str(*summary)) : py::object(py::none());
  out["geojson"] = features ? py::object(py::str(*features)) : py::object(py::none());
  out["utc_offset_hours"] = offset;
  return out;
}

// The tasks of a plan spread over processes (orvus::plan_tasks): (kind, satellite, first,
// last) with kind "opportunities" or "coverage".
py::list plan_tasks(const std::string& path, std::size_t targets_per_task,
                    std::size_t cells_per_task) {
  std::vector<orvus::PlanTask> tasks;
  {
    const py::gil_scoped_release unlocked;
    const auto plan = cached_plan(path);
    const auto grid = plan->coverage ? cached_grid(plan) : nullptr;
    tasks = orvus::plan_tasks(*plan, grid.get(), targets_per_task, cells_per_task);
  }
  py::list out;
  for (const orvus::PlanTask& t : tasks) {
    const char* kind = t.kind == orvus::PlanTask::Kind::coverage ? "coverage" : "opportunities";
    out.append(py::make_tuple(kind, t.satellite, t.first, t.last));
  }
  return out;
}

// One task of a plan spread over processes, as the library's bytes of its parts. `check`,
// when not None, is called between blocks and raises to stop the task.
py::bytes plan_task(const std::string& path, const std::string& kind, std::size_t satellite,
                    std::size_t first, std::size_t last, const py::object& check) {
  if (kind != "opportunities" && kind != "coverage") {
    throw orvus::Error(orvus::ErrorKind::usage, {" NO KIND OF TASK \"" + kind + "\"."});
  }
  const orvus::PlanTask task{
      kind == "coverage" ? orvus::PlanTask::Kind::coverage : orvus::PlanTask::Kind::opportunities,
      satellite, first, last};
  std::string bytes;
  {
    SignalCheck check_signals(check);
    const py::gil_scoped_release unlocked;
    const auto plan = cached_plan(path);
    // The grid only for the coverage's tasks: it takes seconds to make.
    const auto grid = task.kind == orvus::PlanTask::Kind::coverage && plan->coverage
                          ? cached_grid(plan)
                          : nullptr;
    const auto eop = earth_orientation(plan->earth_orientation_path);
    bytes = orvus::serialize_parts(
        orvus::run_task(*plan, *eop, grid.get(), task, [&](double) { check_signals(); }));
  }
  return py::bytes(bytes);
}

// The output folder of a plan run on a cluster, opened before its tasks: made, locked and
// checked at once, then the parts joined and the run finished (the constraints, the coverage's
// figures, the passes and the schedule) and every file written and put in place together, as
// orvus-plan does.
class PlanOutputs {
 public:
  PlanOutputs(const std::string& path, const std::string& output) {
    const py::gil_scoped_release unlocked;
    plan_ = cached_plan(path);
    dir_ = output.empty() ? plan_->output_dir : output;
    folder_ = std::make_unique<orvus::plan_outputs::OutputFolder>(*plan_, dir_, false);
  }

  py::dict finish(const std::vector<std::string>& parts) {
    if (!folder_) {
      throw orvus::Error(orvus::ErrorKind::usage, {" THE PLAN'S OUTPUT FOLDER IS CLOSED."});
    }
    std::optional<orvus::PlanRun> run;
    {
      const py::gil_scoped_release unlocked;
      orvus::PlanParts joined;
      for (const std::string& part : parts) orvus::join(joined, orvus::deserialize_parts(part));
      const auto grid = plan_->coverage ? cached_grid(plan_) : nullptr;
      const auto eop = earth_orientation(plan_->earth_orientation_path);
      // The schedule, here on the client, from every task's opportunities (Ctrl-C stops it).
      SignalCheck check_signals;
      run = orvus::finish_plan(*plan_, *eop, grid.get(), std::move(joined), {},
                               [&](orvus::PlanStage, double) { check_signals(); });
      folder_->write_run(*plan_, *run, grid.get());
      folder_->commit();
      folder_.reset();
    }
    const orvus::PlanCounts& counts = run->counts;
    py::dict out;
    out["found"] = counts.found;
    out["kept"] = counts.kept;
    out["by_sun"] = counts.by_sun;
    out["by_alpha"] = counts.by_alpha;
    out["by_pass"] = counts.by_pass;
    out["by_duration"] = counts.by_duration;
    out["stations"] = plan_->stations.size();
    out["passes"] = run->passes.size();
    out["output"] = dir_;
    if (const auto& coverage = run->coverage) {
      out["cells"] = coverage->cells.size();
      out["coverage_found"] = coverage->found;
      out["coverage_kept"] = coverage->kept;
      out["coverage_by_sun"] = coverage->by_sun;
      out["coverage_by_alpha"] = coverage->by_alpha;
      out["coverage_by_pass"] = coverage->by_pass;
    }
    if (run->schedule) out["schedule"] = orvus::schedule_summary(*plan_, *run->schedule);
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

// A plan's satellites kept for many searches (orvus::PlanModel), made from a plan file: its
// satellites, step, rule and constraints (its interval and targets are each search's). A
// search takes a deck's text (CSV or GeoJSON; `source` names it in messages) and an interval
// in ms since 1970 (UTC), and gives the byte form of its opportunities
// (serialize_opportunities), each numbering its satellite as the plan does.
class PlanModel {
 public:
  explicit PlanModel(const std::string& path) {
    const py::gil_scoped_release unlocked;
    orvus::Plan plan = orvus::load_plan(path);
    auto eop = earth_orientation(plan.earth_orientation_path);
    model_ = std::make_unique<orvus::PlanModel>(std::move(plan), std::move(eop));
  }

  bool reload_elements() {
    const py::gil_scoped_release unlocked;
    return model_->reload_elements();
  }

  py::bytes opportunities(const std::string& deck, const std::string& source, std::int64_t start_ms,
                          std::int64_t end_ms,
                          const std::optional<std::vector<std::size_t>>& satellites) {
    std::string bytes;
    {
      const py::gil_scoped_release unlocked;
      std::vector<orvus::Target> targets = orvus::parse_targets(deck, source);
      bytes = orvus::serialize_opportunities(
          model_->opportunities(std::move(targets), instant_of_ms(start_ms), instant_of_ms(end_ms),
                                satellites.value_or(std::vector<std::size_t>{})));
    }
    return py::bytes(bytes);
  }

  // The rings ([[lon, lat], ...], cut at +-180) of satellite `satellite`'s scene over
  // `seconds` centred on `centre_ms` (ms since 1970, UTC).
  py::list scene(std::size_t satellite, std::int64_t centre_ms, double seconds) {
    std::vector<orvus::Ring> rings;
    {
      const py::gil_scoped_release unlocked;
      rings = model_->scene(satellite, instant_of_ms(centre_ms), seconds);
    }
    py::list out;
    for (const orvus::Ring& r : rings) {
      py::list ring;
      for (const orvus::GroundPoint& p : r) ring.append(py::make_tuple(p.lon_deg, p.lat_deg));
      out.append(ring);
    }
    return out;
  }

 private:
  // Days since 1950 and seconds of the day of ms since 1970 (UTC).
  static orvus::UtcInstant instant_of_ms(std::int64_t ms) {
    constexpr std::int64_t kDay = 86400000;
    constexpr double kDays1950To1970 = 7305.0;
    std::int64_t day = ms / kDay;
    std::int64_t rest = ms % kDay;
    if (rest < 0) {
      rest += kDay;
      --day;
    }
    return {static_cast<double>(day) + kDays1950To1970, static_cast<double>(rest) / 1000.0};
  }

  std::unique_ptr<orvus::PlanModel> model_;
};

// One target (read from `targets_text`, a one-row CSV or one-feature GeoJSON deck) for one
// element set, as a one-target plan without constraints built here: the columns of
// opportunities.csv.
py::list contacts_plan(const orvus::ElementSet& elements, const std::string& targets_text,
                       const std::string& start_local, const std::string& end_local, double step_s,
                       double alpha_deg, double beta_deg, double offset_hours,
                       const std::string& eop_path, const std::string& rule) {
  SignalCheck check_signals;
  Columns table(orvus::PlanTable::opportunities, &check_signals);
  {
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
    orvus::PlanSteps steps;
    steps.coverage = steps.passes = steps.schedule = false;
    const orvus::PlanRun run = orvus::run_planner(
        plan, *eop, nullptr, steps, [&](orvus::PlanStage, double) { check_signals(); });
    orvus::opportunity_rows(plan, run.opportunities, table);
  }
  return table.columns();
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
  // Every table's columns: {table: [(name, type, unit)]}.
  m.def("_columns", [] {
    static const char* const kTypes[] = {"text", "integer", "real", "utc_time", "local_time"};
    py::dict out;
    for (const orvus::PlanTable table : orvus::kPlanTables) {
      py::list columns;
      for (const orvus::Column& c : orvus::table_columns(table)) {
        columns.append(py::make_tuple(std::string(c.name), kTypes[static_cast<int>(c.type)],
                                      std::string(c.unit)));
      }
      out[py::str(std::string(orvus::table_name(table)))] = columns;
    }
    return out;
  });
#if ORVUS_HAVE_PLAN
  m.attr("_have_plan") = true;
  m.def("_plan_info", &plan_info);
  m.def("_run_plan", &run_plan, py::arg("path"), py::arg("tables"), py::arg("geojson") = false);
  m.def("_plan_tasks", &plan_tasks, py::arg("path"), py::arg("targets_per_task"),
        py::arg("cells_per_task"));
  m.def("_plan_task", &plan_task, py::arg("path"), py::arg("kind"), py::arg("satellite"),
        py::arg("first"), py::arg("last"), py::arg("check") = py::none());
  py::class_<PlanOutputs>(m, "_PlanOutputs")
      .def(py::init<const std::string&, const std::string&>(), py::arg("path"),
           py::arg("output") = std::string())
      .def("finish", &PlanOutputs::finish, py::arg("parts"))
      .def("close", &PlanOutputs::close);
  m.def("_contacts_plan", &contacts_plan);
  py::class_<PlanModel>(m, "_PlanModel")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def("reload_elements", &PlanModel::reload_elements)
      .def("opportunities", &PlanModel::opportunities, py::arg("deck"), py::arg("source"),
           py::arg("start_ms"), py::arg("end_ms"), py::arg("satellites") = py::none())
      .def("scene", &PlanModel::scene, py::arg("satellite"), py::arg("centre_ms"),
           py::arg("seconds"));
#else
  m.attr("_have_plan") = false;
#endif
}
