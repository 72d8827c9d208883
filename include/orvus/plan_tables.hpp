// The planner's tables: opportunities.csv, passes.csv, schedule.csv, unscheduled.csv,
// coverage_cells.csv, coverage.csv and coverage_summary.csv. Each table's columns (name, type,
// unit, decimals written) are described here once, and its rows are given value by value, in
// the columns' order, to a RowSink: the CSV writers, the GeoJSON files' properties and the
// Python module's typed columns are all sinks of the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string_view>
#include <vector>

#include "orvus/coverage.hpp"
#include "orvus/export.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/time.hpp"

namespace orvus {

enum class ColumnType : std::uint8_t {
  text,        // UTF-8 text (CSV: quoted when it holds a comma, a quote or a line end)
  integer,     // a whole number
  real,        // a number: `digits` decimals, never "-0"; digits < 0: the shortest text that
               // reads back as the same double
  utc_time,    // an instant in UTC, ISO 8601 to the millisecond: "2025-07-02T13:11:45.000Z"
  local_time,  // a local instant (UTC + the plan's offset) as its wall clock to the
               // millisecond, with the offset: "2025-07-02T10:11:45.000-03:00"
};

struct Column {
  std::string_view name;
  ColumnType type = ColumnType::text;
  std::string_view unit;  // of a number: "s", "deg", "d", "h", "km2", "Gbit", "1" for a share;
                          // empty for texts, times, counts and priorities
  int digits = 0;         // of a real (see ColumnType::real)
};

enum class PlanTable : std::uint8_t {
  opportunities,     // opportunities.csv
  passes,            // passes.csv
  schedule,          // schedule.csv
  unscheduled,       // unscheduled.csv
  coverage_cells,    // coverage_cells.csv
  coverage,          // coverage.csv: the covered fraction as it grows
  coverage_summary,  // coverage_summary.csv
};
inline constexpr PlanTable kPlanTables[] = {PlanTable::opportunities,   PlanTable::passes,
                                            PlanTable::schedule,        PlanTable::unscheduled,
                                            PlanTable::coverage_cells,  PlanTable::coverage,
                                            PlanTable::coverage_summary};

// The table's columns, in the order of its file.
ORVUS_API std::span<const Column> table_columns(PlanTable table);
// Its name: its file's name without ".csv".
ORVUS_API std::string_view table_name(PlanTable table);

// Receives a table's rows: per row one call per column, in the columns' order, then
// end_row(). A value that is missing (the data of a satellite without a data rate, a cell
// never reached) is none(); a real that is not finite is missing too. A local_time column is
// given the local instant (UTC + the offset), whose wall clock is written.
class ORVUS_API RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void text(std::string_view v) = 0;
  virtual void integer(std::int64_t v) = 0;
  virtual void real(double v) = 0;
  virtual void time(const UtcInstant& t) = 0;
  virtual void none() = 0;
  virtual void end_row() = 0;
};

// The columns of a table's rows as a sink is given them, each value checked against its
// column: next() gives the column of the next value (text, integer, real, time: a UTC or local
// one, none: any), end_row() checks that the row is whole. Both raise std::logic_error when the
// row does not match the columns.
class ORVUS_API ColumnCursor {
 public:
  enum class Value : std::uint8_t { text, integer, real, time, none };
  explicit ColumnCursor(PlanTable table);
  const Column& next(Value value);
  void end_row();
  // The index of the column next() gave last.
  [[nodiscard]] std::size_t index() const { return at_ - 1; }
  [[nodiscard]] std::span<const Column> columns() const { return columns_; }

 private:
  PlanTable table_;
  std::span<const Column> columns_;
  std::size_t at_ = 0;
};

// A real of `column` as its table writes it, read back: the double nearest the text of its
// decimals (NaN when it is not finite, which is written as an empty field).
ORVUS_API double written_value(const Column& column, double v);

// The rows of each table, in its file's order.
ORVUS_API void opportunity_rows(const Plan& plan, const std::vector<Opportunity>& kept,
                                RowSink& sink);
ORVUS_API void pass_rows(const Plan& plan, const std::vector<PlanPass>& passes, RowSink& sink);
// The acquisitions by start (PlanSchedule::acquisitions); `passes` as given to the schedule.
ORVUS_API void schedule_rows(const Plan& plan, const std::vector<PlanPass>& passes,
                             const PlanSchedule& schedule, RowSink& sink);
ORVUS_API void unscheduled_rows(const Plan& plan, const PlanSchedule& schedule, RowSink& sink);
// The cells of each area, area after area; a cell in two areas is a row of each.
ORVUS_API void coverage_cell_rows(const Plan& plan, const CoverageGrid& grid,
                                  const CoverageResult& result, RowSink& sink);
// Per area and series (all satellites, then each), one row per UTC minute in which the
// covered fraction grew, at the last first access in it.
ORVUS_API void coverage_rows(const Plan& plan, const CoverageGrid& grid,
                             const CoverageResult& result, RowSink& sink);
// Per area and series: the fraction covered and when it reached 50, 90, 99 and 100 %.
ORVUS_API void coverage_summary_rows(const Plan& plan, const CoverageGrid& grid,
                                     const CoverageResult& result, RowSink& sink);

// A table as CSV: the header of its columns' names, then the rows `rows` gives the sink, each
// field written as its column's type says; local times in the offset `utc_offset_hours`.
// Raises std::logic_error when a row does not match the columns.
ORVUS_API void write_table_csv(PlanTable table, double utc_offset_hours,
                               const std::function<void(RowSink&)>& rows, std::ostream& out);

}  // namespace orvus
