// A program outside the project, built against the installed library: the contacts of the
// bundled example through the public API, checked against the example's OUT2 rows.
//
// Usage: orvus_consumer EXAMPLES_DIR OUT2_CSV
// Exit status 0 when every row matches, 1 on a mismatch or an error, 2 on wrong usage.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <orvus/orvus.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> split_csv(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  return fields;
}

// The report's local times: date and time to the millisecond.
std::string to_millisecond(const orvus::UtcInstant& t) {
  const orvus::DateText text = orvus::format_date_time(t);
  return {text.data(), 23};
}

// Whether `value` rounds to the report's E-form text (four decimals of the mantissa).
bool matches_e_form(double value, const std::string& text) {
  const std::string t = trim(text);
  const auto e = t.find('E');
  if (e == std::string::npos) return false;
  const double printed = std::strtod(t.c_str(), nullptr);
  const int exponent = std::atoi(t.c_str() + e + 1);
  return std::fabs(value - printed) <= 0.5e-4 * std::pow(10.0, exponent) * (1.0 + 1e-9);
}

// Local date-time text to UTC, as the input file's records 7 and 8 are read.
orvus::UtcInstant local_to_utc(const char* local, double utc_offset_hours) {
  orvus::UtcInstant t = orvus::parse_date_time(local);
  t.seconds -= utc_offset_hours * 3600.0;
  return orvus::normalise(t);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: orvus_consumer EXAMPLES_DIR OUT2_CSV\n");
    return 2;
  }
  const std::string examples = argv[1];
  try {
    // The bundled example: Amazonia 1 over Brasilia, ALPHA 0, BETA 60, one local day at
    // UTC-3, 1 s steps.
    const orvus::Box box{-48.30, -47.30, -16.10, -15.40};
    const orvus::Satellite satellite{
        orvus::Propagator(orvus::read_elements(examples + "/amazonia1.tle")), {0.0, 60.0}};
    orvus::Interval interval;
    interval.utc_offset_hours = -3.0;
    interval.start = local_to_utc("31/07/2025 00:00:00.000000000", interval.utc_offset_hours);
    interval.end = local_to_utc("01/08/2025 00:00:00.000000000", interval.utc_offset_hours);
    interval.step_s = 1.0;
    const auto eop = orvus::EarthOrientation::load(examples + "/finals2000A.data");
    const std::vector<orvus::Contact> contacts =
        orvus::find_contacts(satellite, box, interval, eop);

    std::vector<const orvus::Contact*> closed;
    for (const auto& c : contacts) {
      if (c.closed) closed.push_back(&c);
    }
    std::ifstream csv(argv[2]);
    if (!csv) {
      std::fprintf(stderr, "orvus_consumer: cannot open %s\n", argv[2]);
      return 1;
    }
    std::string line;
    std::getline(csv, line);  // header
    std::size_t rows = 0;
    int mismatches = 0;
    while (std::getline(csv, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const auto f = split_csv(line);
      if (rows >= closed.size() || f.size() != 8) {
        std::cerr << "orvus_consumer: row without a contact: " << line << '\n';
        ++mismatches;
        ++rows;
        continue;
      }
      const orvus::Contact& c = *closed[rows++];
      const bool same =
          std::to_string(c.number) == trim(f[0]) && to_millisecond(c.start_local) == f[1] &&
          to_millisecond(c.end_local) == f[2] && to_millisecond(c.best_local) == f[4] &&
          matches_e_form(c.best_alpha_deg, f[5]) && f[7] == std::string(1, c.pass);
      if (!same) {
        std::cerr << "orvus_consumer: contact " << c.number << " (" << to_millisecond(c.start_local)
                  << " to " << to_millisecond(c.end_local) << ", best "
                  << to_millisecond(c.best_local) << ", BEST ALPHA " << c.best_alpha_deg << ", "
                  << c.pass << ") differs from the row: " << line << '\n';
        ++mismatches;
      }
    }
    if (rows != closed.size()) {
      std::cerr << "orvus_consumer: " << closed.size() << " closed contact(s), " << rows
                << " row(s)\n";
      ++mismatches;
    }
    if (mismatches != 0) return 1;
    std::cout << "orvus_consumer: " << rows << " contact(s) match the example (library "
              << orvus::version << ")\n";
  } catch (const orvus::Error& error) {
    for (const auto& l : error.lines()) std::cerr << l << '\n';
    return 1;
  }
  return 0;
}
