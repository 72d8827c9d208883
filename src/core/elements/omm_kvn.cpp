// OMM in keyword = value notation: one "KEYWORD = value [units]" per line, COMMENT lines,
// each message beginning with CCSDS_OMM_VERS.
#include "core/elements/elements_internal.hpp"
#include "core/io/fixed_field.hpp"
#include "core/io/text.hpp"

namespace orvus::elements {

namespace {

bool keyword(std::string_view k) {
  if (k.empty() || k.size() > 64) return false;
  for (const char c : k)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

void read_kvn(std::string_view text, const std::string& source, const RecordSink& sink) {
  KeywordRecord record;
  long number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = trim(strip_cr(text.substr(0, end)));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.empty() || line.substr(0, 7) == "COMMENT") continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || !keyword(trim(line.substr(0, eq))))
      line_error(source, number, "NOT A LINE \"KEYWORD = VALUE\"");
    const std::string key(trim(line.substr(0, eq)));
    std::string_view value = trim(line.substr(eq + 1));
    // Units may follow the value in brackets: "MEAN_MOTION = 14.57 [rev/day]".
    if (!value.empty() && value.back() == ']') {
      const auto open = value.rfind('[');
      if (open != std::string_view::npos) value = trim(value.substr(0, open));
    }
    if (key == "CCSDS_OMM_VERS" && record.line != 0) {
      sink(record);
      record = KeywordRecord{};
    }
    if (record.line == 0) record.line = number;
    if (record.fields.size() == kMaxKeywords)
      line_error(source, number,
                 "MORE THAN " + std::to_string(kMaxKeywords) + " KEYWORDS IN ONE SET");
    record.fields.emplace_back(key, std::string(value));
  }
  if (record.line != 0) sink(record);
}

}  // namespace orvus::elements
