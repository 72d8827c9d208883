#include "core/elements/two_line_file.hpp"

#include <string>

#include "core/elements/elements_internal.hpp"
#include "core/io/fixed_field.hpp"
#include "core/io/text.hpp"
#include "core/io/text_input.hpp"
#include "orvus/error.hpp"

namespace orvus {

std::int16_t two_line_checksum(std::string_view line) {
  return static_cast<std::int16_t>(elements::checksum(line));
}

namespace {

std::string trimmed_name(std::string_view field) {
  return std::string(trim_blanks(field.substr(0, 70)));
}

// Reads the next record of the element file, padded or cut to `width`.
std::string next_record(TextInput& in, std::size_t width, const char* which) {
  std::string line;
  if (!read_line(in, line)) {
    throw Error(ErrorKind::elements,
                {std::string(elements::kTwoLineLabel) + "ERROR READING \"" + in.name + "\":",
                 " END OF FILE BEFORE " + std::string(which) + " (LINE " +
                     std::to_string(in.line + 1) + ").",
                 " EXECUTION INTERRUPTED."},
                ErrorWhere(in.name, {}, in.line + 1));
  }
  return fixed_record(line, width);
}

}  // namespace

ElementSet read_two_line_file(std::string_view file_name) {
  const std::string name = trimmed_name(file_name);
  TextInput in;
  if (!open_text(in, name)) {
    throw Error(ErrorKind::io,
                {std::string(elements::kTwoLineLabel) + "CANNOT OPEN THE TWO-LINE ELEMENT FILE \"" +
                     name + "\".",
                 " EXECUTION INTERRUPTED."},
                ErrorWhere(name));
  }
  const std::string line0 = next_record(in, 50, "THE TITLE LINE");
  // The lines are decoded by the element-set reader, in the order they are read.
  elements::TwoLineFields fields;
  const std::string line1 = next_record(in, 69, "ELEMENT LINE 1");
  const FieldSource src1{name, in.line};
  elements::decode_line1(line1, src1, fields);
  const std::string line2 = next_record(in, 69, "ELEMENT LINE 2");
  elements::decode_line2(line2, FieldSource{name, in.line}, fields);
  in.stream.close();
  ElementSet set;
  elements::finish_two_line(fields, name, src1.line, set);
  set.name = line0;  // the title field, 50 characters
  return set;
}

}  // namespace orvus
