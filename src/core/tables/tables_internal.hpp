// The writers of the planner's tables and files and the byte forms of its results: the
// texts of instants and numbers, the rows of each table, GeoJSON properties.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/sweep/sweep_internal.hpp"
#include "orvus/coverage.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/plan_tables.hpp"

namespace orvus::plan {

// A UTC instant as opportunities.csv writes it: ISO 8601 to the millisecond, "...Z".
std::string utc_text(const UtcInstant& t);
// The pieces every table and GeoJSON file of the planner is written with (outputs.cpp): an
// instant as ISO 8601 to the millisecond ("Z", or the offset's "+hh:mm" for a local time), a
// number to `digits` decimals (never "-0"), a number as the shortest text that reads back the
// same (JSON null when not finite), a JSON string (bytes that are not UTF-8 as U+FFFD), and
// polygons' rings as a GeoJSON MultiPolygon.
std::string iso_text(const UtcInstant& t, const std::optional<double>& offset_hours);
std::string fixed_text(double v, int digits);
std::string json_number(double v);
std::string json_quoted(const std::string& s);
void put_multipolygon(std::ostream& out, const std::vector<std::vector<Ring>>& polys);

// One row of a table (tables.cpp), for the writers that add to it (the GeoJSON files).
void opportunity_row(const Plan& plan, const Opportunity& o, RowSink& sink);
void schedule_row(const Plan& plan, const std::vector<PlanPass>& passes,
                  const PlanSchedule& schedule, const ScheduledAcquisition& a, RowSink& sink);
void coverage_cell_row(const Plan& plan, const CoverageGrid& grid, const CoverageResult& result,
                       std::size_t area, std::uint32_t cell, RowSink& sink);

// A row as the properties of a GeoJSON feature: ',"name":value' for each column, texts and
// times as JSON strings, a missing value as null, reals as the shortest text that reads back
// the same or, `as_written`, with the decimals of their column; take() gives the row's text.
class JsonProperties final : public RowSink {
 public:
  JsonProperties(PlanTable table, double utc_offset_hours, bool as_written);
  void text(std::string_view v) override;
  void integer(std::int64_t v) override;
  void real(double v) override;
  void time(const UtcInstant& t) override;
  void none() override;
  void end_row() override;
  std::string take();

 private:
  void key(const Column& c);
  ColumnCursor cursor_;
  double offset_;
  bool as_written_;
  std::string text_;
};

// Seconds from a to b as their texts read: the difference of the written times, so that a
// row's duration is its end minus its start.
double written_seconds(const UtcInstant& a, const UtcInstant& b);

// The byte forms of opportunities and coverage accesses read from `at`, which is left after
// them (serialize_opportunities, serialize_coverage_accesses).
std::vector<Opportunity> read_opportunities(const std::string& bytes, std::size_t& at);
CoverageAccesses read_coverage_accesses(const std::string& bytes, std::size_t& at);

}  // namespace orvus::plan
