// OMM in JSON: an array of objects (or one object) whose keys are OMM keywords; values are
// text or numbers, numbers kept as the digits written.
#include <nlohmann/json.hpp>

#include "core/elements/elements_internal.hpp"

namespace orvus::elements {

namespace {

using json = nlohmann::json;

// Collects flat objects; anything deeper than an array of objects of plain values stops.
class Collector final : public nlohmann::json_sax<json> {
 public:
  explicit Collector(const RecordSink& sink) : sink_(sink) {}
  std::string problem;  // set when the structure is not one this reader takes
  std::size_t problem_set = 0;

  bool null() override {
    pending_.clear();  // a null value is a keyword not given
    return true;
  }
  bool boolean(bool v) override { return value(v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override { return value(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return value(std::to_string(v)); }
  bool number_float(number_float_t /*v*/, const string_t& s) override { return value(s); }
  bool string(string_t& v) override { return value(v); }
  bool binary(binary_t& /*v*/) override { return refuse("BINARY VALUE", count_); }
  bool start_object(std::size_t /*n*/) override {
    if (in_object()) return refuse("NESTED OBJECT", count_);
    ++depth_;
    ++count_;
    record_ = KeywordRecord{{}, 0, true};
    return true;
  }
  bool key(string_t& k) override {
    pending_ = k;
    return true;
  }
  bool end_object() override {
    --depth_;
    sink_(record_);
    return true;
  }
  bool start_array(std::size_t /*n*/) override {
    if (depth_ != 0) return refuse("NESTED ARRAY", count_ + (in_object() ? 0 : 1));
    ++depth_;
    in_array_ = true;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t position, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& e) override {
    error_position = position;
    error_text = e.what();
    return false;
  }
  std::size_t error_position = 0;
  std::string error_text;

 private:
  [[nodiscard]] bool in_object() const { return depth_ == 2 || (depth_ == 1 && !in_array_); }
  bool value(const std::string& v) {
    if (!in_object()) return refuse("VALUE OUTSIDE AN OBJECT", count_ + 1);
    if (record_.fields.size() == kMaxKeywords) return refuse("TOO MANY KEYWORDS", count_);
    record_.fields.emplace_back(pending_, v);
    return true;
  }
  bool refuse(const char* what, std::size_t set) {
    problem = what;
    problem_set = set;
    return false;
  }
  const RecordSink& sink_;
  KeywordRecord record_;
  std::size_t count_ = 0;  // objects begun
  int depth_ = 0;
  bool in_array_ = false;
  std::string pending_;
};

}  // namespace

void read_json(std::string_view text, const std::string& source, const RecordSink& sink) {
  Collector c(sink);
  const bool ok = json::sax_parse(text.begin(), text.end(), &c);
  if (!c.problem.empty()) {
    set_error(source, c.problem_set, {},
              "NOT AN ARRAY OF OMM OBJECTS OF PLAIN VALUES (" + c.problem + ")");
  }
  if (!ok) {
    // The parser's byte position counts from 1 and names the character it stopped at.
    const std::size_t at = c.error_position > 0 ? c.error_position - 1 : 0;
    std::string what = c.error_text;
    const auto colon = what.find(": ");  // drop the library's "[json.exception...] " head
    if (colon != std::string::npos) what = what.substr(colon + 2);
    for (char& ch : what)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    line_error(source, line_of(text, at), "NOT WELL-FORMED JSON: " + printable(what, 160));
  }
}

}  // namespace orvus::elements
