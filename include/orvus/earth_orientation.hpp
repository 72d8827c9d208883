// The Earth-orientation table of the IERS file "finals2000A.data" (Bulletin A, IAU 2000):
// per UTC day the pole coordinates x_p, y_p (arcseconds) and UT1 - UTC (seconds). Parsed
// once, then immutable and shared freely between threads and searches.
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <string>

#include "orvus/export.hpp"

namespace orvus {

namespace detail {
struct EopTable;
struct EopAccess;
}  // namespace detail

struct EopValues {
  double xp_arcsec = 0.0;
  double yp_arcsec = 0.0;
  double ut1_minus_utc_s = 0.0;
};

class ORVUS_API EarthOrientation {
 public:
  // Every record up to the first whose polar-motion flag (column 17) is neither "I" nor
  // "P", or that ends before column 68. `source` names the file in messages. Raises Error
  // (kind earth_orientation) on a field that is not a number or a table with no record.
  static EarthOrientation parse(std::istream& in, const std::string& source);
  static EarthOrientation load(const std::string& path);

  // The row of the UTC day of `mjd` (Modified Julian Date, UTC). Raises Error with the
  // not-found message when no row covers it.
  [[nodiscard]] EopValues at(double mjd) const;
  // Whether `at` finds a row for `mjd`; constant time on a daily table.
  [[nodiscard]] bool covers(double mjd) const;

  [[nodiscard]] std::size_t size() const;
  [[nodiscard]] double first_mjd() const;
  [[nodiscard]] double last_mjd() const;
  [[nodiscard]] const std::string& source() const;

 private:
  friend struct detail::EopAccess;  // the library's own computations read the rows
  explicit EarthOrientation(std::shared_ptr<const detail::EopTable> table);
  std::shared_ptr<const detail::EopTable> table_;
};

}  // namespace orvus
