// The one error type of the library: what went wrong (its kind), where (file, record, line,
// columns) and the console lines that the commands print for it.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvus/export.hpp"

namespace orvus {

enum class ErrorKind {
  input,              // a run's input (input file, plan, targets) is missing or malformed
  elements,           // an element set is missing, malformed or not one the model can use
  earth_orientation,  // the Earth-orientation file is malformed or does not cover a date
  time,               // a date-time text or value is impossible
  model,              // the orbit model cannot serve the orbit or the time asked
  geometry,           // a view angle or target the geometry cannot serve
  io,                 // a file cannot be read or written
  usage,              // a setting of the command or environment is wrong
};

// Where an error is, as far as known: empty texts and zero numbers are unknown.
struct ErrorWhere {
  std::string file;
  std::string record;                     // e.g. "RECORD 9 (STEP)", an element set's name, a key
  long line = 0;                          // 1-based
  int first_column = 0, last_column = 0;  // 1-based, inclusive

  ErrorWhere() = default;
  explicit ErrorWhere(std::string file_, std::string record_ = {}, long line_ = 0,
                      int first_column_ = 0, int last_column_ = 0)
      : file(std::move(file_)),
        record(std::move(record_)),
        line(line_),
        first_column(first_column_),
        last_column(last_column_) {}
};

class ORVUS_API Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, std::vector<std::string> lines, ErrorWhere where = {})
      : std::runtime_error(join(lines)),
        kind_(kind),
        where_(std::move(where)),
        lines_(std::move(lines)) {}
  // The console lines alone, of an error whose kind does not matter to the caller.
  explicit Error(std::vector<std::string> lines) : Error(ErrorKind::input, std::move(lines)) {}
  Error(std::initializer_list<std::string> lines) : Error(std::vector<std::string>(lines)) {}

  [[nodiscard]] ErrorKind kind() const noexcept { return kind_; }
  [[nodiscard]] const ErrorWhere& where() const noexcept { return where_; }
  // The lines the commands print, in order, each with its leading blank.
  [[nodiscard]] const std::vector<std::string>& lines() const noexcept { return lines_; }

 private:
  static std::string join(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
      const auto first = l.find_first_not_of(' ');
      if (first == std::string::npos) continue;
      if (!out.empty()) out.push_back(' ');
      out.append(l, first, std::string::npos);
    }
    return out;
  }
  ErrorKind kind_;
  ErrorWhere where_;
  std::vector<std::string> lines_;
};

// A text quoted in a message: bytes outside printable ASCII shown as \xNN, cut after `limit`
// characters and then marked "...".
ORVUS_API std::string printable(std::string_view text, std::size_t limit = 80);

}  // namespace orvus
