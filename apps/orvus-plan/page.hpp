// The plan's opportunities as the interactive map page.
#pragma once

#include <string>
#include <vector>

#include "orvus/plan.hpp"

namespace orvus::plan_page {

// The page of the kept opportunities, as HTML text.
std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept);

}  // namespace orvus::plan_page
