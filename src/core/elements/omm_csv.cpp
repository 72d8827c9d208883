// OMM as comma-separated values: a header row of OMM keywords, then one row per set. Fields
// may be quoted ("..." with "" for a quote); an empty field is a keyword not given.
#include "core/elements/elements_internal.hpp"
#include "core/io/fixed_field.hpp"
#include "core/io/text.hpp"

namespace orvus::elements {

namespace {

std::vector<std::string> split_row(std::string_view row, const std::string& source, long line) {
  std::vector<std::string> fields;
  std::string field;
  std::size_t i = 0;
  for (;;) {
    field.clear();
    const auto start = row.find_first_not_of(" \t", i);
    if (start != std::string_view::npos && row[start] == '"') {
      i = start + 1;
      for (;;) {
        if (i >= row.size()) line_error(source, line, "A QUOTED FIELD IS NOT CLOSED");
        if (row[i] == '"') {
          if (i + 1 < row.size() && row[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.push_back(row[i++]);
      }
      const auto next = row.find_first_not_of(" \t", i);
      if (next != std::string_view::npos && row[next] != ',') {
        line_error(source, line,
                   "TEXT AFTER THE CLOSING QUOTE OF FIELD " + std::to_string(fields.size() + 1));
      }
      i = next;
      fields.push_back(field);
    } else {
      const auto comma = row.find(',', i);
      fields.emplace_back(
          trim(row.substr(i, comma == std::string_view::npos ? row.npos : comma - i)));
      i = comma;
    }
    if (i == std::string_view::npos) break;
    ++i;  // past the comma
  }
  return fields;
}

}  // namespace

void read_csv(std::string_view text, const std::string& source, const RecordSink& sink) {
  std::vector<std::string> header;
  long number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = strip_cr(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    auto fields = split_row(line, source, number);
    if (header.empty()) {
      header = std::move(fields);
      if (header.size() > kMaxKeywords)
        line_error(source, number, "MORE THAN " + std::to_string(kMaxKeywords) + " KEYWORDS");
      for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i].empty())
          line_error(source, number, "HEADER FIELD " + std::to_string(i + 1) + " IS EMPTY");
      }
      continue;
    }
    if (fields.size() != header.size()) {
      line_error(source, number,
                 std::to_string(fields.size()) + " FIELDS WHERE THE HEADER HAS " +
                     std::to_string(header.size()));
    }
    KeywordRecord r{{}, number, true};
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (!fields[i].empty()) r.fields.emplace_back(header[i], std::move(fields[i]));
    sink(r);
  }
}

}  // namespace orvus::elements
