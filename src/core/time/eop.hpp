// Earth-orientation table from the IERS file "finals2000A.data": per day the pole
// coordinates x_p, y_p (arcseconds) and UT1 - UTC (seconds).
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace orvus {

struct EopRows {
  // Columns 1-4 of each row: MJD of the record (0h UTC), x_p, y_p, UT1 - UTC.
  std::vector<double> mjd;
  std::vector<double> xp;
  std::vector<double> yp;
  std::vector<double> dut1;
  // True when the rows are one per day, whole MJDs increasing by exactly one: the lookup
  // then indexes the row directly instead of scanning.
  bool daily = false;
  // The dates in increasing order, for telling quickly whether any row covers a date when
  // the table is not daily.
  std::vector<double> sorted_mjd;
  std::string file_name;
};

// Loads every record up to the first one whose polar-motion flag (column 17) is neither
// "I" nor "P", or that ends before column 68 (a line cut short). Raises Error when the file cannot
// be opened, a value field is not a number, or no record is usable.
void load_eop_file(EopRows& table, const std::string& file_name);

// The same from an open stream; `file_name` names it in messages.
void read_eop_rows(std::istream& in, const std::string& file_name, EopRows& table);

// The first line of locate_eop's error, before the date (MJD, shortest round-trip digits)
// and a full stop.
inline constexpr std::string_view kNoEopDataLead = " NO EARTH-ORIENTATION DATA FOR MJD ";

// Values of the first row whose date lies strictly within one day of `date` (MJD, UTC):
// the row of the UTC day floor(date). Raises Error (kind earth_orientation) when no row
// qualifies. Constant time on a daily table.
void locate_eop(double date, const EopRows& table, double& xp, double& yp, double& dut1);

// The plain first-match scan over every row, for any table.
bool scan_eop_rows(double date, const EopRows& table, std::size_t& row);

// The row locate_eop returns, without stopping the run when there is none.
bool find_eop_row(double date, const EopRows& table, std::size_t& row);

// True when locate_eop finds a row for `date`; fast on any table.
bool eop_covers(double date, const EopRows& table);

}  // namespace orvus
