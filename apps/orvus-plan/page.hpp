// The plan's opportunities as the interactive map page.
#pragma once

#include <filesystem>
#include <vector>

#include "orvus/plan.hpp"

namespace orvus::plan_page {

// Writes the page of the kept opportunities to `file`; false when it cannot be written.
bool write_page(const Plan& plan, const std::vector<Opportunity>& kept,
                const std::filesystem::path& file);

}  // namespace orvus::plan_page
