// Line-by-line text input with line counting, and free-form numeric records: numbers
// separated by blanks or commas, a record continuing on following lines while values
// are missing, extra values on its last line ignored.
#pragma once

#include <fstream>
#include <istream>
#include <span>
#include <string>
#include <string_view>

namespace orvus {

struct TextInput {
  std::ifstream stream;
  std::string name;  // file name, for messages
  long line = 0;     // number of the line read last
};

// The longest line an input file may hold, without its line end.
inline constexpr std::size_t kMaxLineLength = 65536;

// Opens an existing file for reading; false when it cannot be opened. Raises Error naming
// the file when it is a directory or another kind of file that is not a regular file (a
// device or a pipe could be read without end).
bool open_text(TextInput& in, const std::string& name);

// Opens `name` for reading as `open_text` does, into `stream`.
bool open_regular_file(std::ifstream& stream, const std::string& name);

// The largest whole file read (element files, plans, target decks), bytes: a whole public
// catalogue as OMM XML, or a deck of a million targets, is well below it.
inline constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

// Reads a whole regular file into `text`. The file is opened without waiting (a pipe never
// blocks the open); one that is not a regular file raises Error naming it, as `open_text`
// does. `too_large` when it holds more than `max_bytes`, `cannot_open` when it is missing or
// cannot be read.
enum class FileRead { ok, cannot_open, too_large };
FileRead read_regular_file(const std::string& name, std::size_t max_bytes, std::string& text);

// The number (from 1) of the line of `text` that holds byte `offset`.
long line_at(std::string_view text, std::size_t offset);

// Raises Error naming `file` and the line of the first byte sequence of `text` that is not
// UTF-8; a byte-order mark at the start is taken out of `text`.
void require_utf8(const std::string& file, std::string& text);

// Raises Error naming `file` and the first line of `text` longer than kMaxLineLength.
void require_line_length(const std::string& file, std::string_view text);

// Reads the next line of `stream` without its LF into `line`, keeping at most
// kMaxLineLength + 1 characters. False at end of file; `too_long` tells a longer line.
bool read_bounded_line(std::istream& stream, std::string& line, bool& too_long);

// Reads the next line without its line end (LF or CRLF). False at end of file. Raises Error
// naming the file and the line when the line is longer than kMaxLineLength.
bool read_line(TextInput& in, std::string& line);

// Raises Error for a line of `file` longer than kMaxLineLength.
[[noreturn]] void line_too_long(const std::string& file, long line);

// Parses one number of free-form input ("12", "-3.5", "1.5E3", "2d-1"). False when the
// token is not a number or is not finite.
bool parse_number(std::string_view token, double& value);

// Raises Error for `record` of the input: the file, the record and the line, then `what`.
[[noreturn]] void record_error(const TextInput& in, std::string_view record,
                               const std::string& what);

// Reads the values of one free-form record, starting at the next line of `in`. Raises Error
// naming the file and `record` (the record's description, e.g. "RECORD 4 (LON1, LON2, LAT1,
// LAT2)") on an empty value, a value that is not a number or an end of file.
void read_free_form(TextInput& in, std::span<double> values, std::string_view record);

}  // namespace orvus
