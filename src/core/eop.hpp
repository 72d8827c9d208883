// Earth-orientation table from the IERS file "finals2000A.data": per day the pole
// coordinates x_p, y_p (arcseconds) and UT1 - UTC (seconds).
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace orvus {

struct IersTable {
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
  std::ifstream file;  // stays open until the run ends
  std::string file_name;
};

inline constexpr const char* kIersFileName = "finals2000A.data";

// Loads every record up to the first one whose polar-motion flag (column 17) is neither
// "I" nor "P", or that ends before column 68 (a line cut short). Raises Fatal when the file cannot
// be opened, a value field is not a number, or no record is usable.
void READ_IERS_DATA(IersTable& table, const std::string& file_name = kIersFileName);

// The same from an open stream; `file_name` names it in messages.
void read_iers_rows(std::istream& in, const std::string& file_name, IersTable& table);

// Values of the first row whose date lies strictly within one day of `date` (MJD, UTC):
// the row of the UTC day floor(date). Raises Fatal with the not-found message when no row
// qualifies. Constant time on a daily table.
void LOCATE_IERS_DATA(double date, const IersTable& table, double& xp, double& yp, double& dut1);

// The plain first-match scan over every row, for any table.
bool scan_iers_rows(double date, const IersTable& table, std::size_t& row);

// The row LOCATE_IERS_DATA returns, without stopping the run when there is none.
bool find_iers_row(double date, const IersTable& table, std::size_t& row);

// True when LOCATE_IERS_DATA finds a row for `date`; fast on any table.
bool iers_covers(double date, const IersTable& table);

}  // namespace orvus
