// What an EarthOrientation holds: the rows of the table.
#pragma once

#include "frames/iers.hpp"
#include "orvus/earth_orientation.hpp"

namespace orvus::detail {

struct EopTable {
  IersTable rows;
};

}  // namespace orvus::detail
