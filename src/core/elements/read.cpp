// The element-set reader: recognises the form of a file by its content, reads every set and
// picks one by name or catalogue number.
// g++ 12 warns falsely about overlapping copies in std::string concatenation (GCC PR 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <fstream>
#include <sstream>

#include "core/elements/elements_internal.hpp"
#include "core/io/text_input.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace elements {

Format detect_format(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return Format::two_line;
  if (text[first] == '<') return Format::xml;
  if (text[first] == '[' || text[first] == '{') return Format::json;
  std::string_view line = text.substr(first);
  line = line.substr(0, line.find('\n'));
  if (line.substr(0, 14) == "CCSDS_OMM_VERS" || line.substr(0, 7) == "COMMENT") return Format::kvn;
  // A header row names keywords that every OMM carries.
  if (line.find(',') != std::string_view::npos && line.find("MEAN_MOTION") != line.npos &&
      line.find("EPOCH") != line.npos)
    return Format::csv;
  return Format::two_line;
}

std::vector<ElementSet> read_text(std::string_view text, const std::string& source, Format format) {
  std::vector<ElementSet> sets;
  const RecordSink sink = [&](KeywordRecord& r) {
    sets.push_back(from_keywords(r, source, sets.size() + 1));
  };
  std::string_view body = text;
  if (format != Format::two_line && body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  switch (format) {
    case Format::two_line:
      try {
        return read_two_line_sets(text, source);
      } catch (const Error& f) {
        throw Error(ErrorKind::elements, f.lines(), ErrorWhere{source, {}, 0, 0, 0});
      }
    case Format::kvn:
      read_kvn(body, source, sink);
      break;
    case Format::xml:
      read_xml(body, source, sink);
      break;
    case Format::json:
      read_json(body, source, sink);
      break;
    case Format::csv:
      read_csv(body, source, sink);
      break;
  }
  if (sets.empty()) {
    throw Error(ErrorKind::elements,
                {" ELEMENT FILE \"" + printable(source, 200) + "\" HOLDS NO ELEMENT SET.",
                 " EXECUTION INTERRUPTED."},
                ErrorWhere{source, {}, 0, 0, 0});
  }
  return sets;
}

namespace {

[[noreturn]] void too_large(const std::string& source) {
  throw Error(ErrorKind::elements,
              {" ELEMENT FILE \"" + printable(source, 200) + "\" IS LARGER THAN " +
                   std::to_string(kMaxFileBytes >> 20) + " MB: NOT AN ELEMENT FILE.",
               " EXECUTION INTERRUPTED."},
              ErrorWhere{source, {}, 0, 0, 0});
}

// The whole stream, refused past kMaxFileBytes.
std::string slurp(std::istream& in, const std::string& source) {
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) too_large(source);
  }
  return text;
}

std::string upper_trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  s = s.substr(first, s.find_last_not_of(' ') - first + 1);
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

}  // namespace elements

std::vector<ElementSet> read_element_sets(std::istream& in, const std::string& source) {
  const std::string text = elements::slurp(in, source);
  return elements::read_text(text, source, elements::detect_format(text));
}

std::vector<ElementSet> read_element_file(const std::string& path) {
  std::string text;
  const FileRead got = read_regular_file(path, kMaxFileBytes, text);
  if (got == FileRead::cannot_open) {
    throw Error(ErrorKind::io,
                {std::string(elements::kTwoLineLabel) + "CANNOT OPEN THE TWO-LINE ELEMENT FILE \"" +
                     path + "\".",
                 " EXECUTION INTERRUPTED."},
                ErrorWhere{path, {}, 0, 0, 0});
  }
  if (got == FileRead::too_large) elements::too_large(path);
  return elements::read_text(text, path, elements::detect_format(text));
}

bool name_matches(const ElementSet& set, std::string_view name) {
  const std::string want = elements::upper_trimmed(name);
  if (want.empty()) return false;
  std::string have = elements::upper_trimmed(set.name);
  if (have == want) return true;
  // A three-line catalogue may write the title line as "0 NAME".
  return have.size() > 2 && have.compare(0, 2, "0 ") == 0 &&
         elements::upper_trimmed(have.substr(2)) == want;
}

std::ptrdiff_t find_element_set(const std::vector<ElementSet>& sets, const ElementSelect& select) {
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const bool hit = std::holds_alternative<std::monostate>(select) ||
                     (std::holds_alternative<std::string>(select) &&
                      name_matches(sets[i], std::get<std::string>(select))) ||
                     (std::holds_alternative<std::int64_t>(select) &&
                      sets[i].catalogue_number == std::get<std::int64_t>(select));
    if (hit) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

ElementSet read_elements(const std::string& path, const ElementSelect& select) {
  auto sets = read_element_file(path);
  const auto i = find_element_set(sets, select);
  if (i < 0) {
    const std::string what =
        std::holds_alternative<std::string>(select)
            ? "NAMED \"" + elements::printable(std::get<std::string>(select)) + "\""
            : "OF CATALOGUE NUMBER " + std::to_string(std::get<std::int64_t>(select));
    throw Error(
        ErrorKind::elements,
        {" ELEMENT FILE \"" + elements::printable(path, 200) + "\" HOLDS NO SET " + what + ".",
         " EXECUTION INTERRUPTED."},
        ErrorWhere{path, {}, 0, 0, 0});
  }
  return std::move(sets[static_cast<std::size_t>(i)]);
}

double element_age_days(const ElementSet& set, const UtcInstant& t) {
  return since_epoch(set.epoch, t) / 86400.0;
}

}  // namespace orvus
