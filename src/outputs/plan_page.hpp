// The plan's opportunities (and its schedule) as the interactive map page.
#pragma once

#include <string>
#include <vector>

#include "orvus/coverage.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"

namespace orvus::plan_page {

// The page of the kept opportunities, as HTML text; with the coverage's layer and charts when
// a grid and its result are given; with a schedule (made from `kept`) and the passes it was
// made with, its timeline too.
std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept,
                      const CoverageGrid* grid = nullptr, const CoverageResult* coverage = nullptr,
                      const PlanSchedule* schedule = nullptr,
                      const std::vector<PlanPass>* passes = nullptr);

}  // namespace orvus::plan_page
