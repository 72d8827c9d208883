#include "core/text_input.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <string>

#include "orvus/error.hpp"

namespace orvus {

bool open_regular_file(std::ifstream& stream, const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    throw Error(ErrorKind::input, {" \"" + name + "\" IS " +
                                       (S_ISDIR(st.st_mode) ? std::string("A DIRECTORY")
                                                            : std::string("NOT A REGULAR FILE")) +
                                       ": A TEXT FILE IS EXPECTED.",
                                   " EXECUTION INTERRUPTED."});
  }
  stream.open(name, std::ios::in | std::ios::binary);
  return stream.is_open();
}

bool open_text(TextInput& in, const std::string& name) {
  in.name = name;
  in.line = 0;
  return open_regular_file(in.stream, name);
}

bool read_bounded_line(std::istream& stream, std::string& line, bool& too_long) {
  line.clear();
  too_long = false;
  if (!stream.good()) return false;
  // In chunks: getline stores at most sizeof chunk - 1 characters and then fails without
  // having met the line end, so a line never grows past the limit plus one chunk.
  char chunk[1024];
  for (;;) {
    stream.getline(chunk, sizeof chunk);
    const auto got = static_cast<std::size_t>(stream.gcount());
    if (!stream.fail()) {  // the line end was read (counted, not stored), or the file ended
      line.append(chunk, stream.eof() ? got : got - 1);
      too_long = line.size() > kMaxLineLength + 1;
      return true;
    }
    if (stream.eof() || got != sizeof chunk - 1) return !line.empty() || got > 0;
    line.append(chunk, got);  // the chunk is full: the line goes on
    stream.clear(stream.rdstate() & ~std::ios::failbit);
    if (line.size() > kMaxLineLength + 1) {
      too_long = true;
      return true;
    }
  }
}

void line_too_long(const std::string& file, long line) {
  throw Error(ErrorKind::input,
              {" ERROR IN \"" + file + "\", LINE " + std::to_string(line) + ":",
               " THE LINE IS LONGER THAN " + std::to_string(kMaxLineLength) + " CHARACTERS.",
               " EXECUTION INTERRUPTED."});
}

bool read_line(TextInput& in, std::string& line) {
  bool too_long = false;
  if (!read_bounded_line(in.stream, line, too_long)) return false;
  ++in.line;
  if (line.size() > kMaxLineLength && !(line.size() == kMaxLineLength + 1 && line.back() == '\r')) {
    too_long = true;
  }
  if (too_long) line_too_long(in.name, in.line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool parse_number(std::string_view token, double& value) {
  // sign, digits with an optional point, optional exponent letter E or D with signed digits
  std::string text;
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    if (token[i] == '-') text.push_back('-');
    ++i;
  }
  bool digit = false;
  bool point = false;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    if (c >= '0' && c <= '9') {
      digit = true;
      text.push_back(c);
    } else if (c == '.' && !point) {
      point = true;
      text.push_back(c);
    } else {
      break;
    }
  }
  if (!digit) return false;
  if (i < token.size()) {
    const char c = token[i];
    if (c != 'E' && c != 'e' && c != 'D' && c != 'd') return false;
    ++i;
    text.push_back('e');
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) text.push_back(token[i++]);
    if (i == token.size()) return false;
    for (; i < token.size(); ++i) {
      if (token[i] < '0' || token[i] > '9') return false;
      text.push_back(token[i]);
    }
  }
  double v = 0.0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
  if (res.ec == std::errc::result_out_of_range) return false;
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return false;
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

void record_error(const TextInput& in, std::string_view record, const std::string& what) {
  throw Error(ErrorKind::input, {" ERROR IN \"" + in.name + "\", " + std::string(record) +
                                     ", LINE " + std::to_string(in.line) + ":",
                                 " " + what, " EXECUTION INTERRUPTED."});
}

void read_free_form(TextInput& in, std::span<double> values, std::string_view record) {
  std::size_t got = 0;
  // True when a comma here would stand for an empty value: at the start of the record and
  // right after another comma.
  bool comma_is_empty = true;
  std::string line;
  while (got < values.size()) {
    if (!read_line(in, line)) {
      ++in.line;  // the line that was expected
      record_error(in, record,
                   "END OF FILE: " + std::to_string(values.size()) + " VALUE(S) EXPECTED, " +
                       std::to_string(got) + " FOUND.");
    }
    std::size_t i = 0;
    while (i < line.size() && got < values.size()) {
      const char c = line[i];
      if (is_blank(c)) {
        ++i;
      } else if (c == ',') {
        if (comma_is_empty) record_error(in, record, "EMPTY VALUE BETWEEN COMMAS.");
        comma_is_empty = true;
        ++i;
      } else {
        std::size_t j = i;
        while (j < line.size() && !is_blank(line[j]) && line[j] != ',') ++j;
        const std::string_view token(line.data() + i, j - i);
        double v = 0.0;
        if (!parse_number(token, v)) {
          std::string what = "\"";
          what.append(token).append("\" IS NOT A FINITE NUMBER.");
          record_error(in, record, what);
        }
        values[got++] = v;
        comma_is_empty = false;
        i = j;
      }
    }
  }
}

}  // namespace orvus
