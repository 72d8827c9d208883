#include "spot5.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace spot5 {
namespace {

class Lines {
 public:
  explicit Lines(const std::string& path) : in_(path), path_(path) {
    if (!in_) throw std::runtime_error(path + ": cannot be read");
  }
  // The next non-blank line as a stream of numbers.
  std::istringstream next() {
    std::string s;
    while (std::getline(in_, s)) {
      ++line_;
      if (s.find_first_not_of(" \t\r") != std::string::npos) return std::istringstream(s);
    }
    fail("unexpected end of file");
  }
  bool more() {
    std::string s;
    while (in_.peek() != EOF) {
      const auto pos = in_.tellg();
      std::getline(in_, s);
      if (s.find_first_not_of(" \t\r") != std::string::npos) {
        in_.seekg(pos);
        return true;
      }
      ++line_;
    }
    return false;
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(path_ + ", line " + std::to_string(line_) + ": " + what);
  }

 private:
  std::ifstream in_;
  std::string path_;
  long line_ = 0;
};

template <class T>
T number(std::istringstream& s, const Lines& lines, const char* what) {
  T v{};
  if (!(s >> v)) lines.fail(std::string("expected ") + what);
  return v;
}

}  // namespace

Instance read(const std::string& path) {
  Lines lines(path);
  Instance inst;
  auto head = lines.next();
  const auto n = number<long>(head, lines, "the number of photographs");
  if (n < 0) lines.fail("negative count");
  std::unordered_map<long, std::size_t> index;
  for (long i = 0; i < n; ++i) {
    auto s = lines.next();
    Photo p;
    p.id = number<long>(s, lines, "a photograph id");
    p.weight = number<long>(s, lines, "a weight");
    const auto d = number<int>(s, lines, "a domain size");
    if (d < 1 || d > 3) lines.fail("domain size must be 1 to 3");
    for (int k = 0; k < d; ++k) {
      p.values.push_back(number<int>(s, lines, "a value"));
      p.consumption.push_back(number<double>(s, lines, "a consumption"));
    }
    if (!index.emplace(p.id, inst.photos.size()).second) lines.fail("repeated photograph id");
    inst.photos.push_back(std::move(p));
  }
  auto ch = lines.next();
  const auto m = number<long>(ch, lines, "the number of constraints");
  // The recorder capacity, a line of one number, ends the multi-orbit files; their count of
  // constraints includes it.
  while (lines.more()) {
    auto s = lines.next();
    std::vector<double> nums;
    double x = 0;
    while (s >> x) nums.push_back(x);
    if (!s.eof()) lines.fail("expected numbers");
    if (nums.size() == 1) {
      if (lines.more()) lines.fail("a capacity must be the last record");
      inst.capacity = nums[0];
      break;
    }
    const auto arity = static_cast<std::size_t>(nums[0]);
    if (nums[0] != static_cast<double>(arity) || arity < 1 || arity > 3 ||
        nums.size() < 1 + arity || (nums.size() - 1 - arity) % arity != 0) {
      lines.fail("a constraint needs an arity of 1 to 3, its ids and whole tuples");
    }
    Constraint c;
    for (std::size_t k = 1; k <= arity; ++k) {
      const auto it = index.find(static_cast<long>(nums[k]));
      if (it == index.end()) lines.fail("unknown photograph id");
      c.photos.push_back(it->second);
    }
    for (std::size_t k = 1 + arity; k < nums.size(); k += arity) {
      c.forbidden.emplace_back();
      for (std::size_t j = 0; j < arity; ++j) {
        c.forbidden.back().push_back(static_cast<int>(nums[k + j]));
      }
    }
    inst.constraints.push_back(std::move(c));
  }
  const auto counted = static_cast<long>(inst.constraints.size());
  if (counted != m && counted + (inst.capacity ? 1 : 0) != m) {
    lines.fail("the file has " + std::to_string(counted) + " constraints, not " +
               std::to_string(m));
  }
  return inst;
}

orvus::ScheduleProblem to_problem(const Instance& inst) {
  orvus::ScheduleProblem p;
  if (inst.capacity) p.capacities.push_back(*inst.capacity);
  for (const auto& ph : inst.photos) {
    orvus::ScheduleCandidate c;
    c.weight = static_cast<double>(ph.weight);
    for (std::size_t k = 0; k < ph.values.size(); ++k) {
      orvus::ScheduleValue v;
      if (inst.capacity) v.uses.push_back({0, ph.consumption[k]});
      c.values.push_back(std::move(v));
    }
    p.candidates.push_back(std::move(c));
  }
  auto choice = [&](std::size_t photo, int code) -> std::optional<orvus::ScheduleChoice> {
    const auto& vals = inst.photos[photo].values;
    const auto it = std::find(vals.begin(), vals.end(), code);
    if (it == vals.end()) return std::nullopt;  // a value no photograph takes
    return orvus::ScheduleChoice{photo, static_cast<std::size_t>(it - vals.begin())};
  };
  for (const auto& c : inst.constraints) {
    for (const auto& t : c.forbidden) {
      std::vector<orvus::ScheduleChoice> tuple;
      for (std::size_t k = 0; k < t.size(); ++k) {
        if (auto ch = choice(c.photos[k], t[k])) tuple.push_back(*ch);
      }
      if (tuple.size() != t.size()) continue;
      if (tuple.size() == 1) {  // a value that is never allowed: a row it alone breaks
        p.rows.push_back({{{tuple[0], 1.0}}, {}, 0.0, 0.0});
      } else if (tuple.size() == 2) {
        p.forbidden_pairs.push_back({tuple[0], tuple[1]});
      } else {
        p.forbidden_triples.push_back({tuple[0], tuple[1], tuple[2]});
      }
    }
  }
  return p;
}

std::vector<std::string> violations(const Instance& inst, const std::vector<int>& codes) {
  std::vector<std::string> out;
  if (codes.size() != inst.photos.size()) return {"answer of the wrong length"};
  double used = 0;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] == 0) continue;
    const auto& ph = inst.photos[i];
    const auto it = std::find(ph.values.begin(), ph.values.end(), codes[i]);
    if (it == ph.values.end()) {
      out.push_back("photograph " + std::to_string(ph.id) + " takes a value outside its domain");
      continue;
    }
    used += ph.consumption[static_cast<std::size_t>(it - ph.values.begin())];
  }
  for (std::size_t ci = 0; ci < inst.constraints.size(); ++ci) {
    const auto& c = inst.constraints[ci];
    for (const auto& t : c.forbidden) {
      bool all = true;
      for (std::size_t k = 0; k < t.size() && all; ++k) all = codes[c.photos[k]] == t[k];
      if (all) out.push_back("constraint " + std::to_string(ci + 1) + " forbids the values taken");
    }
  }
  // Consumptions are decimals: sums are compared to within 1e-9 of the capacity.
  if (inst.capacity && used > *inst.capacity + 1e-9 * std::max(1.0, *inst.capacity)) {
    out.push_back("recorder over capacity: " + std::to_string(used) + " > " +
                  std::to_string(*inst.capacity));
  }
  return out;
}

}  // namespace spot5
