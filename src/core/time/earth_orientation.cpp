#include "orvus/earth_orientation.hpp"

#include <utility>

#include "core/time/eop.hpp"
#include "core/time/eop_table.hpp"

namespace orvus {

EarthOrientation::EarthOrientation(std::shared_ptr<const detail::EopTable> table)
    : table_(std::move(table)) {}

EarthOrientation EarthOrientation::load(const std::string& path) {
  auto t = std::make_shared<detail::EopTable>();
  load_eop_file(t->rows, path);
  return detail::EopAccess::make(std::move(t));
}

EarthOrientation EarthOrientation::parse(std::istream& in, const std::string& source) {
  auto t = std::make_shared<detail::EopTable>();
  read_eop_rows(in, source, t->rows);
  return detail::EopAccess::make(std::move(t));
}

EopValues EarthOrientation::at(double mjd) const {
  EopValues v;
  locate_eop(mjd, table_->rows, v.xp_arcsec, v.yp_arcsec, v.ut1_minus_utc_s);
  return v;
}

bool EarthOrientation::covers(double mjd) const {
  return eop_covers(mjd, table_->rows);
}

std::size_t EarthOrientation::size() const {
  return table_->rows.mjd.size();
}
double EarthOrientation::first_mjd() const {
  return table_->rows.mjd.front();
}
double EarthOrientation::last_mjd() const {
  return table_->rows.mjd.back();
}
const std::string& EarthOrientation::source() const {
  return table_->rows.file_name;
}

}  // namespace orvus
