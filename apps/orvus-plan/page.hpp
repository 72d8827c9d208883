// The plan's opportunities (and its schedule) as the interactive map page.
#pragma once

#include <string>
#include <vector>

#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"

namespace orvus::plan_page {

// The page of the kept opportunities, as HTML text; with a schedule (made from `kept`) and
// the passes it was made with, its timeline too.
std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept,
                      const PlanSchedule* schedule = nullptr,
                      const std::vector<PlanPass>* passes = nullptr);

}  // namespace orvus::plan_page
