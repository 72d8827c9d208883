// What an EarthOrientation holds, the rows of the table, and the library's access to them.
#pragma once

#include <memory>
#include <utility>

#include "core/time/eop.hpp"
#include "orvus/earth_orientation.hpp"

namespace orvus::detail {

struct EopTable {
  EopRows rows;
};

struct EopAccess {
  static EarthOrientation make(std::shared_ptr<const EopTable> table) {
    return EarthOrientation(std::move(table));
  }
  static const EopRows& rows(const EarthOrientation& eop) { return eop.table_->rows; }
};

// The rows of an Earth-orientation table.
inline const EopRows& eop_rows(const EarthOrientation& eop) {
  return EopAccess::rows(eop);
}

}  // namespace orvus::detail
