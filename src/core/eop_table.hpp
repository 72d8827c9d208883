// What an EarthOrientation holds: the rows of the table.
#pragma once

#include "core/eop.hpp"
#include "orvus/earth_orientation.hpp"

namespace orvus::detail {

struct EopTable {
  EopRows rows;
};

}  // namespace orvus::detail
