#include "orbit/tle.hpp"

#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "common/fatal.hpp"
#include "common/fixed_field.hpp"
#include "common/free_form.hpp"
#include "core/elements/elements_internal.hpp"

namespace orvus {

std::int16_t COMP_CHECKSUM_2LINES(std::string_view line) {
  return static_cast<std::int16_t>(elements::checksum(line));
}

namespace {

std::string trimmed_name(std::string_view field) {
  std::string name(field.substr(0, 70));
  const auto last = name.find_last_not_of(' ');
  name.resize(last == std::string::npos ? 0 : last + 1);
  return name;
}

// Reads the next record of the element file, padded or cut to `width`.
std::string next_record(TextInput& in, std::size_t width, const char* which) {
  std::string line;
  if (!read_line(in, line)) {
    throw Fatal{" READ_2LINES: ERROR READING \"" + in.name + "\":",
                " END OF FILE BEFORE " + std::string(which) + " (LINE " +
                    std::to_string(in.line + 1) + ").",
                " EXECUTION INTERRUPTED."};
  }
  return fixed_record(line, width);
}

}  // namespace

std::int16_t READ_2LINES(std::int16_t /*unit*/, std::string_view file_name, TLE_ELSET& elset) {
  const std::string name = trimmed_name(file_name);
  TextInput in;
  if (!open_text(in, name)) {
    throw Fatal{" READ_2LINES: CANNOT OPEN THE TWO-LINE ELEMENT FILE \"" + name + "\".",
                " EXECUTION INTERRUPTED."};
  }

  const std::string line0 = next_record(in, 50, "THE TITLE LINE");
  std::memcpy(elset.SATNAME, line0.data(), 50);

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
  set.name.assign(elset.SATNAME, 50);
  elements::to_tle_elset(set, elset);
  return 0;
}

}  // namespace orvus
