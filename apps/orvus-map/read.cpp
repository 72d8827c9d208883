// Reading a run back: its input file, the step and BEST ALPHA lines of OUT1 and the rows
// of OUT2.
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "common/fatal.hpp"
#include "common/fixed_field.hpp"
#include "map/map.hpp"

namespace orvus::map {

namespace {

[[noreturn]] void bad_line(const std::filesystem::path& file, long line, const std::string& what) {
  throw Fatal{" ORVUS-MAP: ERROR IN \"" + file.string() + "\", LINE " + std::to_string(line) + ":",
              " " + what, " EXECUTION INTERRUPTED."};
}

// A number written by Fw.d or Ew.d; empty when the field holds asterisks or NaN.
std::optional<double> number(const std::string& field, bool& ok) {
  const auto first = field.find_first_not_of(' ');
  ok = true;
  if (first == std::string::npos) {
    ok = false;
    return std::nullopt;
  }
  const std::string t = field.substr(first);
  if (t.find('*') != std::string::npos || t == "NaN") return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) {
    ok = false;
    return std::nullopt;
  }
  return v;
}

std::optional<LonLat> point(const std::string& line, std::size_t at, const std::filesystem::path& f,
                            long n) {
  bool ok_lon = false, ok_lat = false;
  if (line.size() < at + 18 || line[at + 9] != ',') bad_line(f, n, "A STEP LINE IS CUT SHORT.");
  const auto lon = number(line.substr(at, 9), ok_lon);
  const auto lat = number(line.substr(at + 10, 8), ok_lat);
  if (!ok_lon || !ok_lat) bad_line(f, n, "A COORDINATE OF A STEP LINE IS NOT A NUMBER.");
  if (!lon || !lat) return std::nullopt;
  return LonLat{*lon, *lat};
}

std::vector<std::string> read_lines_of(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw Fatal{" ORVUS-MAP: CANNOT OPEN \"" + file.string() + "\".",
                " RUN ORVUS FIRST, IN THE SAME DIRECTORY.", " EXECUTION INTERRUPTED."};
  }
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.emplace_back(strip_cr(line));
  return lines;
}

void read_out1(const std::filesystem::path& file, Run& run) {
  const auto lines = read_lines_of(file);
  if (lines.empty() || lines[0].find("ORVUS v1.13 REPORT") == std::string::npos) {
    bad_line(file, 1, "NOT AN ORVUS v1.13 REPORT.");
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    const long n = static_cast<long>(i) + 1;
    if (l.rfind(" CONTACT NUMBER: ", 0) == 0) {
      Contact c;
      char* end = nullptr;
      c.number = static_cast<int>(std::strtol(l.c_str() + 17, &end, 10));
      if (end == l.c_str() + 17 || c.number != static_cast<int>(run.contacts.size()) + 1) {
        bad_line(file, n, "CONTACT NUMBERS MUST RUN 1, 2, 3, ...");
      }
      run.contacts.push_back(c);
    } else if (l.rfind(" BEST ALPHA: ", 0) == 0) {
      if (run.contacts.empty() || run.contacts.back().steps.empty())
        bad_line(file, n, "A BEST ALPHA LINE OUTSIDE A CONTACT.");
      run.contacts.back().closed = true;
      if (l.size() < 90) bad_line(file, n, "THE BEST ALPHA LINE IS CUT SHORT.");
      bool ok_lon = false, ok_lat = false;
      const auto lon = number(l.substr(72, 9), ok_lon);
      const auto lat = number(l.substr(82, 8), ok_lat);
      if (!ok_lon || !ok_lat) bad_line(file, n, "THE BEST ALPHA POINT IS NOT A NUMBER.");
      if (lon && lat) run.contacts.back().best_point = LonLat{*lon, *lat};
    } else if (l.size() >= 24 && l[0] == ' ' && l[3] == '/' && l[6] == '/' && l[14] == ':') {
      if (run.contacts.empty()) bad_line(file, n, "A STEP LINE BEFORE ANY CONTACT HEADING.");
      if (run.contacts.back().closed) bad_line(file, n, "A STEP LINE AFTER THE BEST ALPHA LINE.");
      if (l.size() < 96 || l.substr(26, 3) != "(0)" || l.substr(50, 3) != "(1)" ||
          l.substr(74, 3) != "(2)") {
        bad_line(file, n, "NOT A STEP LINE OF THE REPORT'S LAYOUT.");
      }
      StepPoints s;
      s.time = l.substr(1, 23);
      for (std::size_t k = 0; k < 3; ++k) s.p[k] = point(l, 30 + 24 * k, file, n);
      run.contacts.back().steps.push_back(s);
    }
  }
}

std::vector<std::string> split_commas(const std::string& s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const auto comma = s.find(',', start);
    out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

void read_out2(const std::filesystem::path& file, Run& run) {
  const auto lines = read_lines_of(file);
  if (lines.empty() || lines[0].rfind("ORVUS,", 0) != 0) {
    bad_line(file, 1, "NOT AN ORVUS CONTACT TABLE.");
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const long n = static_cast<long>(i) + 1;
    if (lines[i].find_first_not_of(' ') == std::string::npos) continue;
    const auto f = split_commas(lines[i]);
    if (f.size() != 8) bad_line(file, n, "A ROW MUST HOLD 8 FIELDS.");
    char* end = nullptr;
    const long id = std::strtol(f[0].c_str(), &end, 10);
    if (end == f[0].c_str() || id < 1 || id > static_cast<long>(run.contacts.size())) {
      bad_line(file, n, "THE CONTACT NUMBER IS NOT ONE OF ORVUS_v1.13_OUT1.TXT.");
    }
    Contact& c = run.contacts[static_cast<std::size_t>(id - 1)];
    if (!c.closed || !c.start.empty())
      bad_line(file, n, "THE CONTACT HAS NO SUMMARY IN OUT1 OR TWO ROWS.");
    c.start = f[1];
    c.end = f[2];
    c.best_time = f[4];
    c.pass = f[7].size() == 1 ? f[7][0] : '?';
    if (c.pass != 'A' && c.pass != 'D') bad_line(file, n, "THE PASS LETTER MUST BE A OR D.");
    const auto get = [&](const std::string& field, const char* what) {
      bool good = false;
      const auto v = number(field, good);
      if (!good || !v) bad_line(file, n, std::string(what) + " IS NOT A NUMBER.");
      return *v;
    };
    c.duration = get(f[3], "THE DURATION");
    c.best_alpha = get(f[5], "BEST ALPHA");
    c.distance = get(f[6], "THE DISTANCE");
    for (const std::string* t : {&c.start, &c.end, &c.best_time}) {
      if (t->size() != 23 || (*t)[2] != '/' || (*t)[13] != ':')
        bad_line(file, n, "A TIME IS NOT DD/MM/YYYY HH:MM:SS.SSS.");
    }
  }
  for (const Contact& c : run.contacts) {
    if (c.closed && c.start.empty()) {
      throw Fatal{" ORVUS-MAP: ERROR IN \"" + file.string() + "\":",
                  " CONTACT " + std::to_string(c.number) + " OF ORVUS_v1.13_OUT1.TXT HAS NO ROW.",
                  " EXECUTION INTERRUPTED."};
    }
  }
}

}  // namespace

void read_run(const std::filesystem::path& dir, Run& run) {
  TextInput in;
  const std::string input = (dir / kInputFile).string();
  if (!open_text(in, input)) {
    throw Fatal{" ORVUS-MAP: CANNOT OPEN THE INPUT FILE \"" + input + "\".",
                " EXECUTION INTERRUPTED."};
  }
  read_run_params(in, run.params);
  read_out1(dir / kOut1File, run);
  read_out2(dir / kOut2File, run);
}

void local_text_to_utc(const std::string& text, double utc_diff, double& day, double& seconds) {
  std::string full = text;
  full.resize(29, '0');
  INSTDJM3(full, day, seconds);
  seconds -= utc_diff * 3600.0;
  correct_day(day, seconds);
}

}  // namespace orvus::map
