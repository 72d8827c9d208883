// The planner's tables: each one's columns and rows (plan_tables.hpp), and the sinks that write
// them as CSV and as GeoJSON properties.
#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>

#include "core/tables/tables_internal.hpp"
#include "orvus/plan_tables.hpp"

namespace orvus {

// The texts unscheduled.csv writes for the reasons (orvus/plan_schedule.hpp).
const char* reason_text(UnscheduledReason reason) {
  switch (reason) {
    case UnscheduledReason::no_opportunity:
      return "no opportunity";
    case UnscheduledReason::conflicts:
      return "conflicts";
    case UnscheduledReason::imaging_time:
      return "imaging time";
    case UnscheduledReason::recorder:
      return "recorder";
  }
  return "";
}

namespace {

using T = ColumnType;

constexpr Column kOpportunityColumns[] = {
    {"satellite", T::text, "", 0},
    {"norad_id", T::integer, "", 0},
    {"target_id", T::text, "", 0},
    {"target_name", T::text, "", 0},
    {"contact", T::integer, "", 0},
    {"start_utc", T::utc_time, "", 0},
    {"end_utc", T::utc_time, "", 0},
    {"start_local", T::local_time, "", 0},
    {"end_local", T::local_time, "", 0},
    {"duration_s", T::real, "s", 3},
    {"best_time_utc", T::utc_time, "", 0},
    {"best_time_local", T::local_time, "", 0},
    {"best_alpha_deg", T::real, "deg", 4},
    {"distance_deg", T::real, "deg", 4},
    {"pass", T::text, "", 0},
    {"sun_elevation_deg", T::real, "deg", 2},
    {"coverage", T::real, "1", 4},
    {"element_age_days", T::real, "d", 3},
};

constexpr Column kPassColumns[] = {
    {"satellite", T::text, "", 0},
    {"norad_id", T::integer, "", 0},
    {"station", T::text, "", 0},
    {"aos_utc", T::utc_time, "", 0},
    {"los_utc", T::utc_time, "", 0},
    {"aos_local", T::local_time, "", 0},
    {"los_local", T::local_time, "", 0},
    {"duration_s", T::real, "s", 3},
    {"max_elevation_deg", T::real, "deg", 4},
    {"max_elevation_utc", T::utc_time, "", 0},
};

constexpr Column kScheduleColumns[] = {
    {"satellite", T::text, "", 0},
    {"norad_id", T::integer, "", 0},
    {"target_id", T::text, "", 0},
    {"target_name", T::text, "", 0},
    {"priority", T::real, "", -1},
    {"start_utc", T::utc_time, "", 0},
    {"end_utc", T::utc_time, "", 0},
    {"start_local", T::local_time, "", 0},
    {"end_local", T::local_time, "", 0},
    {"roll_deg", T::real, "deg", 4},
    {"slew_s", T::real, "s", 3},
    {"imaging_s", T::real, "s", 3},
    {"data_gbit", T::real, "Gbit", 3},
    {"recorder_after_gbit", T::real, "Gbit", 3},
    {"downlink_station", T::text, "", 0},
    {"downlink_start_utc", T::utc_time, "", 0},
    {"sun_elevation_deg", T::real, "deg", 2},
};

constexpr Column kUnscheduledColumns[] = {
    {"target_id", T::text, "", 0}, {"target_name", T::text, "", 0},
    {"priority", T::real, "", -1}, {"opportunities", T::integer, "", 0},
    {"reason", T::text, "", 0},
};

constexpr Column kCoverageCellColumns[] = {
    {"target_id", T::text, "", 0},
    {"cell_id", T::integer, "", 0},
    {"lon", T::real, "deg", 6},
    {"lat", T::real, "deg", 6},
    {"area_km2", T::real, "km2", 3},
    {"accesses", T::integer, "", 0},
    {"first_access_utc", T::utc_time, "", 0},
    {"mean_revisit_h", T::real, "h", 4},
    {"max_revisit_h", T::real, "h", 4},
    {"start_gap_h", T::real, "h", 4},
    {"end_gap_h", T::real, "h", 4},
};

constexpr Column kCoverageColumns[] = {
    {"target_id", T::text, "", 0},      {"satellite", T::text, "", 0},
    {"time_utc", T::utc_time, "", 0},   {"covered_fraction", T::real, "1", 6},
    {"covered_km2", T::real, "km2", 1}, {"cells_covered", T::integer, "", 0},
};

constexpr Column kCoverageSummaryColumns[] = {
    {"target_id", T::text, "", 0},           {"target_name", T::text, "", 0},
    {"satellite", T::text, "", 0},           {"cells", T::integer, "", 0},
    {"area_km2", T::real, "km2", 1},         {"accesses", T::integer, "", 0},
    {"covered_fraction", T::real, "1", 6},   {"reached_50_utc", T::utc_time, "", 0},
    {"reached_90_utc", T::utc_time, "", 0},  {"reached_99_utc", T::utc_time, "", 0},
    {"reached_100_utc", T::utc_time, "", 0}, {"first_share", T::real, "1", 6},
};

// The local instant of a UTC one in the plan's offset.
UtcInstant local(const Plan& plan, const UtcInstant& t) {
  return normalise(UtcInstant{t.day, t.seconds + plan.interval.utc_offset_hours * 3600.0});
}

// The instant t seconds after the plan's start, to the millisecond.
UtcInstant after_start(const Plan& plan, double t) {
  return plan::after(plan.interval.start, std::round(t * 1000.0) / 1000.0);
}

const std::string& series_name(const Plan& plan, const CoverageSeries& s) {
  static const std::string all = "all";
  return s.satellite == CoverageSeries::kAll ? all : plan.satellites.at(s.satellite).name;
}

void time_or_none(RowSink& sink, bool present, const UtcInstant& t) {
  if (present) {
    sink.time(t);
  } else {
    sink.none();
  }
}

}  // namespace

std::span<const Column> table_columns(PlanTable table) {
  switch (table) {
    case PlanTable::opportunities:
      return kOpportunityColumns;
    case PlanTable::passes:
      return kPassColumns;
    case PlanTable::schedule:
      return kScheduleColumns;
    case PlanTable::unscheduled:
      return kUnscheduledColumns;
    case PlanTable::coverage_cells:
      return kCoverageCellColumns;
    case PlanTable::coverage:
      return kCoverageColumns;
    case PlanTable::coverage_summary:
      return kCoverageSummaryColumns;
  }
  throw std::logic_error("no such table");
}

std::string_view table_name(PlanTable table) {
  switch (table) {
    case PlanTable::opportunities:
      return "opportunities";
    case PlanTable::passes:
      return "passes";
    case PlanTable::schedule:
      return "schedule";
    case PlanTable::unscheduled:
      return "unscheduled";
    case PlanTable::coverage_cells:
      return "coverage_cells";
    case PlanTable::coverage:
      return "coverage";
    case PlanTable::coverage_summary:
      return "coverage_summary";
  }
  throw std::logic_error("no such table");
}

double written_value(const Column& column, double v) {
  if (!std::isfinite(v)) return std::numeric_limits<double>::quiet_NaN();
  if (column.digits < 0) return v;
  const std::string text = plan::fixed_text(v, column.digits);
  double out = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), out);
  return out;
}

// ---- rows ----

void plan::opportunity_row(const Plan& plan, const Opportunity& o, RowSink& sink) {
  const PlanSatellite& s = plan.satellites.at(o.satellite);
  const Target& t = plan.targets.at(o.target);
  const Contact& c = o.contact;
  sink.text(s.name);
  sink.integer(s.elements.catalogue_number);
  sink.text(t.id);
  sink.text(t.name);
  sink.integer(c.number);
  sink.time(c.start_utc);
  sink.time(c.end_utc);
  sink.time(c.start_local);
  sink.time(c.end_local);
  sink.real(c.duration_s);
  sink.time(c.best_utc);
  sink.time(c.best_local);
  sink.real(c.best_alpha_deg);
  sink.real(c.distance_deg);
  sink.text(std::string_view(&c.pass, 1));
  sink.real(o.sun_elevation_deg);
  sink.real(o.coverage);
  sink.real(o.element_age_days);
  sink.end_row();
}

void opportunity_rows(const Plan& plan, const std::vector<Opportunity>& kept, RowSink& sink) {
  for (const Opportunity& o : kept) plan::opportunity_row(plan, o, sink);
}

void pass_rows(const Plan& plan, const std::vector<PlanPass>& passes, RowSink& sink) {
  for (const PlanPass& p : passes) {
    const PlanSatellite& s = plan.satellites.at(p.satellite);
    const Pass& q = p.pass;
    sink.text(s.name);
    sink.integer(s.elements.catalogue_number);
    sink.text(plan.stations.at(p.station).name);
    sink.time(q.aos_utc);
    sink.time(q.los_utc);
    sink.time(local(plan, q.aos_utc));
    sink.time(local(plan, q.los_utc));
    sink.real(plan::written_seconds(q.aos_utc, q.los_utc));
    sink.real(q.max_elevation_deg);
    sink.time(q.max_utc);
    sink.end_row();
  }
}

void plan::schedule_row(const Plan& plan, const std::vector<PlanPass>& passes,
                        const PlanSchedule& s, const ScheduledAcquisition& a, RowSink& sink) {
  const Acquisition& c = s.candidates.at(a.candidate);
  const PlanSatellite& sat = plan.satellites.at(c.satellite);
  const Target& t = plan.targets.at(c.target);
  sink.text(sat.name);
  sink.integer(sat.elements.catalogue_number);
  sink.text(t.id);
  sink.text(t.name);
  sink.real(t.priority);
  sink.time(c.start_utc);
  sink.time(c.end_utc);
  sink.time(local(plan, c.start_utc));
  sink.time(local(plan, c.end_utc));
  sink.real(c.roll_deg);
  sink.real(a.slew_s);
  sink.real(c.imaging_s);
  if (sat.agility.imaging_gbit_s) {
    sink.real(c.data_gbit);
  } else {
    sink.none();
  }
  if (a.recorder_after_gbit) {
    sink.real(*a.recorder_after_gbit);
  } else {
    sink.none();
  }
  if (a.downlink_pass) {
    sink.text(plan.stations.at(passes.at(*a.downlink_pass).station).name);
    sink.time(a.downlink_start_utc);
  } else {
    sink.none();
    sink.none();
  }
  sink.real(c.sun_elevation_deg);
  sink.end_row();
}

void schedule_rows(const Plan& plan, const std::vector<PlanPass>& passes,
                   const PlanSchedule& schedule, RowSink& sink) {
  for (const ScheduledAcquisition& a : schedule.acquisitions)
    plan::schedule_row(plan, passes, schedule, a, sink);
}

void unscheduled_rows(const Plan& plan, const PlanSchedule& schedule, RowSink& sink) {
  for (const UnscheduledTarget& u : schedule.unscheduled) {
    const Target& t = plan.targets.at(u.target);
    sink.text(t.id);
    sink.text(t.name);
    sink.real(t.priority);
    sink.integer(static_cast<std::int64_t>(u.opportunities));
    sink.text(reason_text(u.reason));
    sink.end_row();
  }
}

void plan::coverage_cell_row(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                             std::size_t area, std::uint32_t cell, RowSink& sink) {
  const CoverageCellStats& st = r.cells.at(cell);
  const CoverageGrid::Cell& c = grid.cells.at(cell);
  sink.text(grid.areas.at(area).id);
  sink.integer(static_cast<std::int64_t>(c.id));
  sink.real(c.lon_deg);
  sink.real(c.lat_deg);
  sink.real(grid.cell_area_km2);
  sink.integer(st.accesses);
  time_or_none(sink, st.accesses > 0, after_start(plan, st.first_s));
  sink.real(st.mean_revisit_s / 3600.0);
  sink.real(st.max_revisit_s / 3600.0);
  // The gaps before the first access and after the last: the whole interval when none.
  sink.real((st.accesses > 0 ? st.first_s : r.span_s) / 3600.0);
  sink.real((st.accesses > 0 ? r.span_s - st.last_s : r.span_s) / 3600.0);
  sink.end_row();
}

void coverage_cell_rows(const Plan& plan, const CoverageGrid& grid, const CoverageResult& result,
                        RowSink& sink) {
  for (std::size_t a = 0; a < grid.areas.size(); ++a)
    for (const std::uint32_t c : grid.areas[a].cells)
      plan::coverage_cell_row(plan, grid, result, a, c, sink);
}

void coverage_rows(const Plan& plan, const CoverageGrid& grid, const CoverageResult& result,
                   RowSink& sink) {
  const double start = plan.interval.start.seconds;
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const std::size_t cells = grid.areas[a].cells.size();
    for (const CoverageSeries& s : result.areas.at(a)) {
      for (std::size_t i = 0; i < s.first_s.size(); ++i) {
        const double t = s.first_s[i];
        if (i + 1 < s.first_s.size() &&
            std::floor((start + s.first_s[i + 1]) / 60.0) == std::floor((start + t) / 60.0))
          continue;
        sink.text(grid.areas[a].id);
        sink.text(series_name(plan, s));
        sink.time(after_start(plan, t));
        sink.real(static_cast<double>(i + 1) / static_cast<double>(cells));
        sink.real(static_cast<double>(i + 1) * grid.cell_area_km2);
        sink.integer(static_cast<std::int64_t>(i + 1));
        sink.end_row();
      }
    }
  }
}

void coverage_summary_rows(const Plan& plan, const CoverageGrid& grid, const CoverageResult& result,
                           RowSink& sink) {
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const CoverageGrid::Area& area = grid.areas[a];
    const auto cells = static_cast<double>(area.cells.size());
    // An area of no cell has no fractions.
    const auto share = [&](double n) {
      return cells > 0.0 ? n / cells : std::numeric_limits<double>::quiet_NaN();
    };
    for (const CoverageSeries& s : result.areas.at(a)) {
      sink.text(area.id);
      sink.text(area.name);
      sink.text(series_name(plan, s));
      sink.integer(static_cast<std::int64_t>(area.cells.size()));
      sink.real(cells * grid.cell_area_km2);
      sink.integer(static_cast<std::int64_t>(s.accesses));
      sink.real(share(static_cast<double>(s.first_s.size())));
      for (const int p : {50, 90, 99, 100}) {
        const double t = coverage_reached_s(s, area.cells.size(), p);
        time_or_none(sink, std::isfinite(t), after_start(plan, std::isfinite(t) ? t : 0.0));
      }
      sink.real(share(static_cast<double>(s.first_cells)));
      sink.end_row();
    }
  }
}

// ---- sinks ----

ColumnCursor::ColumnCursor(PlanTable table) : table_(table), columns_(table_columns(table)) {}

const Column& ColumnCursor::next(Value value) {
  const auto fits = [value](ColumnType type) {
    switch (value) {
      case Value::text:
        return type == ColumnType::text;
      case Value::integer:
        return type == ColumnType::integer;
      case Value::real:
        return type == ColumnType::real;
      case Value::time:
        return type == ColumnType::utc_time || type == ColumnType::local_time;
      case Value::none:
        return true;
    }
    return false;
  };
  if (at_ >= columns_.size() || !fits(columns_[at_].type)) {
    throw std::logic_error("a row of the table " + std::string(table_name(table_)) +
                           " does not match its columns at column " + std::to_string(at_ + 1));
  }
  return columns_[at_++];
}

void ColumnCursor::end_row() {
  if (at_ != columns_.size()) {
    throw std::logic_error("a row of the table " + std::string(table_name(table_)) + " has " +
                           std::to_string(at_) + " fields of " + std::to_string(columns_.size()));
  }
  at_ = 0;
}

namespace {

void append_integer(std::string& out, std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// A row of CSV fields, written to the stream at its end.
class CsvSink final : public RowSink {
 public:
  CsvSink(PlanTable table, double utc_offset_hours, std::ostream& out)
      : cursor_(table), offset_(utc_offset_hours), out_(out) {}
  void text(std::string_view v) override {
    next(cursor_.next(ColumnCursor::Value::text));
    if (v.find_first_of(",\"\r\n") == std::string_view::npos) {
      row_ += v;
    } else {
      row_ += csv_field(std::string(v));
    }
  }
  void integer(std::int64_t v) override {
    next(cursor_.next(ColumnCursor::Value::integer));
    append_integer(row_, v);
  }
  void real(double v) override {
    const Column& c = next(cursor_.next(ColumnCursor::Value::real));
    if (!std::isfinite(v)) return;
    row_ += c.digits < 0 ? plan::json_number(v) : plan::fixed_text(v, c.digits);
  }
  void time(const UtcInstant& t) override {
    const Column& c = next(cursor_.next(ColumnCursor::Value::time));
    row_ += c.type == ColumnType::local_time ? iso_time(t, offset_) : iso_time(t, std::nullopt);
  }
  void none() override { next(cursor_.next(ColumnCursor::Value::none)); }
  void end_row() override {
    cursor_.end_row();
    row_ += '\n';
    out_ << row_;
    row_.clear();
  }

 private:
  const Column& next(const Column& c) {
    if (cursor_.index() > 0) row_ += ',';
    return c;
  }
  ColumnCursor cursor_;
  double offset_;
  std::ostream& out_;
  std::string row_;
};

}  // namespace

void write_table_csv(PlanTable table, double utc_offset_hours,
                     const std::function<void(RowSink&)>& rows, std::ostream& out) {
  std::string header;
  for (const Column& c : table_columns(table)) {
    if (!header.empty()) header += ',';
    header += c.name;
  }
  out << header << '\n';
  CsvSink sink(table, utc_offset_hours, out);
  rows(sink);
}

plan::JsonProperties::JsonProperties(PlanTable table, double utc_offset_hours, bool as_written)
    : cursor_(table), offset_(utc_offset_hours), as_written_(as_written) {}

void plan::JsonProperties::key(const Column& c) {
  text_ += ",\"";
  text_ += c.name;
  text_ += "\":";
}

void plan::JsonProperties::text(std::string_view v) {
  key(cursor_.next(ColumnCursor::Value::text));
  text_ += json_quoted(std::string(v));
}
void plan::JsonProperties::integer(std::int64_t v) {
  key(cursor_.next(ColumnCursor::Value::integer));
  append_integer(text_, v);
}
void plan::JsonProperties::real(double v) {
  const Column& c = cursor_.next(ColumnCursor::Value::real);
  key(c);
  if (!std::isfinite(v)) {
    text_ += "null";
  } else {
    text_ += as_written_ && c.digits >= 0 ? fixed_text(v, c.digits) : json_number(v);
  }
}
void plan::JsonProperties::time(const UtcInstant& t) {
  const Column& c = cursor_.next(ColumnCursor::Value::time);
  key(c);
  text_ += '"';
  text_ += c.type == ColumnType::local_time ? iso_time(t, offset_) : iso_time(t, std::nullopt);
  text_ += '"';
}
void plan::JsonProperties::none() {
  key(cursor_.next(ColumnCursor::Value::none));
  text_ += "null";
}
void plan::JsonProperties::end_row() {
  cursor_.end_row();
}

std::string plan::JsonProperties::take() {
  std::string out = std::move(text_);
  text_.clear();
  return out;
}

}  // namespace orvus
