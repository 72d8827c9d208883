// The plan's opportunities as the interactive map page.
#pragma once

#include <string>
#include <vector>

#include "orvus/coverage.hpp"
#include "orvus/plan.hpp"

namespace orvus::plan_page {

// The page of the kept opportunities, as HTML text; with the coverage's layer and charts when
// a grid and its result are given.
std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept,
                      const CoverageGrid* grid = nullptr, const CoverageResult* coverage = nullptr);

}  // namespace orvus::plan_page
