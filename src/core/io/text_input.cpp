#include "core/io/text_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <string>

#include "orvus/error.hpp"

namespace orvus {

namespace {

[[noreturn]] void not_a_file(const std::string& name, const struct stat& st) {
  throw Error(
      ErrorKind::input,
      {" \"" + name + "\" IS " +
           (S_ISDIR(st.st_mode) ? std::string("A DIRECTORY") : std::string("NOT A REGULAR FILE")) +
           ": A TEXT FILE IS EXPECTED.",
       " EXECUTION INTERRUPTED."},
      ErrorWhere(name));
}

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

long line_at(std::string_view text, std::size_t offset) {
  const std::size_t end = std::min(offset, text.size());
  return 1 + static_cast<long>(
                 std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

bool open_regular_file(std::ifstream& stream, const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) not_a_file(name, st);
  stream.open(name, std::ios::in | std::ios::binary);
  return stream.is_open();
}

FileRead read_regular_file(const std::string& name, std::size_t max_bytes, std::string& text) {
  // O_NONBLOCK: opening a pipe without a writer would otherwise wait for one.
  const Fd f{::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (f.fd < 0) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) not_a_file(name, st);
    return FileRead::cannot_open;
  }
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return FileRead::cannot_open;
  if (!S_ISREG(st.st_mode)) not_a_file(name, st);
  text.clear();
  char buf[65536];
  for (;;) {
    const ssize_t got = ::read(f.fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FileRead::cannot_open;
    if (got == 0) break;
    text.append(buf, static_cast<std::size_t>(got));
    if (text.size() > max_bytes) return FileRead::too_large;
  }
  return FileRead::ok;
}

void require_utf8(const std::string& file, std::string& text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the range of the second byte (RFC 3629, section 4)
    if (c < 0x80) {
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      const unsigned b = p[i + k];
      ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    }
    if (!ok) {
      const long line = line_at(text, i);
      throw Error(ErrorKind::input,
                  {" ERROR IN \"" + file + "\", LINE " + std::to_string(line) +
                       ": THE TEXT IS NOT UTF-8 (SAVE THE FILE AS UTF-8).",
                   " EXECUTION INTERRUPTED."},
                  ErrorWhere(file, {}, line));
    }
    i += len;
  }
}

void require_line_length(const std::string& file, std::string_view text) {
  std::size_t start = 0;
  long line = 1;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::size_t len = end - start;
    if (len > 0 && text[end - 1] == '\r') --len;
    if (len > kMaxLineLength) line_too_long(file, line);
    start = end + 1;
    ++line;
  }
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
