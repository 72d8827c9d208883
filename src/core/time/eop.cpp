#include "core/time/eop.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/io/fixed_field.hpp"
#include "core/io/text_input.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace {
// More rows than a daily file holds in a thousand years: a file past it is no
// Earth-orientation file, and the table stays small (four doubles a row).
constexpr std::size_t kMaxIersRows = 400000;
}  // namespace

void load_eop_file(EopRows& table, const std::string& file_name) {
  std::ifstream file;
  if (!open_regular_file(file, file_name)) {
    throw Error(ErrorKind::earth_orientation,
                {" CANNOT OPEN THE EARTH-ORIENTATION FILE \"" + file_name + "\".",
                 " EXECUTION INTERRUPTED."});
  }
  read_eop_rows(file, file_name, table);
}

void read_eop_rows(std::istream& in, const std::string& file_name, EopRows& table) {
  table.mjd.clear();
  table.xp.clear();
  table.yp.clear();
  table.dut1.clear();
  table.daily = false;
  table.file_name = file_name;
  std::string line;
  long number = 0;
  bool too_long = false;
  // A field or line the table cannot read is the Earth-orientation file's fault.
  try {
    while (read_bounded_line(in, line, too_long)) {
      ++number;
      if (too_long || strip_cr(line).size() > kMaxLineLength) line_too_long(file_name, number);
      const std::string record = fixed_record(line, 80);
      const char flag = record[16];
      if (flag != 'I' && flag != 'P') break;
      // A flagged record cut short before the end of UT1 - UTC (column 68), as by a failed
      // download, ends the table as well: its missing digits would read as zeros.
      if (strip_cr(line).size() < 68) break;
      if (table.mjd.size() == kMaxIersRows) {
        throw Error(ErrorKind::earth_orientation,
                    {" THE EARTH-ORIENTATION FILE \"" + file_name + "\" HAS MORE THAN " +
                         std::to_string(kMaxIersRows) + " RECORDS.",
                     " EXECUTION INTERRUPTED."});
      }
      const FieldSource src{file_name, number};
      table.mjd.push_back(read_real_field(record, 7, 9, 2, src));
      table.xp.push_back(read_real_field(record, 19, 9, 6, src));
      table.yp.push_back(read_real_field(record, 38, 9, 6, src));
      table.dut1.push_back(read_real_field(record, 59, 10, 7, src));
    }
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::input) throw;
    throw Error(ErrorKind::earth_orientation, e.lines(), e.where());
  }
  if (table.mjd.empty()) {
    throw Error(
        ErrorKind::earth_orientation,
        {" THE EARTH-ORIENTATION FILE \"" + file_name + "\" HAS NO USABLE RECORD:",
         number == 0 ? std::string(" THE FILE IS EMPTY.")
                     : std::string(" ITS FIRST LINE HAS NO POLAR-MOTION FLAG (\"I\" OR \"P\" "
                                   "IN COLUMN 17)."),
         " EXECUTION INTERRUPTED."});
  }
  // Whole days counted exactly (far below 2^53), one after another.
  bool daily = std::floor(table.mjd[0]) == table.mjd[0] && std::fabs(table.mjd[0]) < 1.0e9;
  for (std::size_t i = 1; daily && i < table.mjd.size(); ++i)
    daily = table.mjd[i] == table.mjd[0] + static_cast<double>(i);
  table.daily = daily;
  table.sorted_mjd.clear();
  if (!daily) {
    table.sorted_mjd = table.mjd;
    std::sort(table.sorted_mjd.begin(), table.sorted_mjd.end());
  }
}

bool scan_eop_rows(double date, const EopRows& table, std::size_t& row) {
  for (std::size_t i = 0; i < table.mjd.size(); ++i) {
    if (std::fabs(date - table.mjd[i]) < 1.0) {
      row = i;
      return true;
    }
  }
  return false;
}

namespace {

// On a daily table only the rows of floor(date) - 1 .. floor(date) + 1 can lie within one
// day of the date; the first of them that does is the first in the whole table.
bool index_daily_row(double date, const EopRows& table, std::size_t& row) {
  const double offset = std::floor(date) - table.mjd[0];
  const auto n = static_cast<double>(table.mjd.size());
  if (!(offset >= -2.0 && offset <= n + 1.0)) return false;  // also NaN
  const auto centre = static_cast<long long>(offset);
  for (long long i = centre - 1; i <= centre + 1; ++i) {
    if (i < 0 || i >= static_cast<long long>(table.mjd.size())) continue;
    const auto k = static_cast<std::size_t>(i);
    if (std::fabs(date - table.mjd[k]) < 1.0) {
      row = k;
      return true;
    }
  }
  return false;
}

}  // namespace

bool find_eop_row(double date, const EopRows& table, std::size_t& row) {
  return table.daily ? index_daily_row(date, table, row) : scan_eop_rows(date, table, row);
}

bool eop_covers(double date, const EopRows& table) {
  std::size_t row = 0;
  if (table.daily || table.sorted_mjd.size() != table.mjd.size()) {
    return find_eop_row(date, table, row);
  }
  // Only dates within two days can be within one day of `date` (inclusive bounds: at very
  // large magnitudes date - 2 and date + 2 round to the date itself).
  const auto& m = table.sorted_mjd;
  for (auto it = std::lower_bound(m.begin(), m.end(), date - 2.0);
       it != m.end() && *it <= date + 2.0; ++it) {
    if (std::fabs(date - *it) < 1.0) return true;
  }
  return false;
}

void locate_eop(double date, const EopRows& table, double& xp, double& yp, double& dut1) {
  std::size_t row = 0;
  if (!find_eop_row(date, table, row)) {
    char value[64];
    const auto res = std::to_chars(value, value + sizeof value, date);
    throw Error(ErrorKind::earth_orientation,
                {std::string(kNoEopDataLead) + std::string(value, res.ptr) + ".",
                 " EXECUTION INTERRUPTED."});
  }
  xp = table.xp[row];
  yp = table.yp[row];
  dut1 = table.dut1[row];
}

}  // namespace orvus
