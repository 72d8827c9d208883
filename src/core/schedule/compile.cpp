// Validation and compilation of a scheduling problem into independent parts.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

#include "core/schedule/schedule_internal.hpp"
#include "orvus/error.hpp"

namespace orvus::detail {
namespace {

[[noreturn]] void bad(const std::string& what) {
  throw Error(ErrorKind::input, {" SCHEDULE: " + what});
}

bool finite(double v) {
  return std::isfinite(v);
}

double tolerance(double bound) {
  return kRowTolerance * std::max(1.0, std::fabs(bound));
}

struct UnionFind {
  std::vector<std::uint32_t> up;
  explicit UnionFind(std::size_t n) : up(n) { std::iota(up.begin(), up.end(), 0U); }
  std::uint32_t find(std::uint32_t a) {
    while (up[a] != a) a = up[a] = up[up[a]];
    return a;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = find(a);
    b = find(b);
    if (a != b) up[std::max(a, b)] = std::min(a, b);
  }
};

// A general row on global nodes, duplicates merged and zero terms dropped.
struct GRow {
  std::vector<std::pair<std::uint32_t, double>> x, y;
  double lower = 0, upper = 0;
};

void merge_terms(std::vector<std::pair<std::uint32_t, double>>& t) {
  std::sort(t.begin(), t.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t out = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (out > 0 && t[out - 1].first == t[i].first) {
      t[out - 1].second += t[i].second;
    } else {
      t[out++] = t[i];
    }
  }
  t.resize(out);
  std::erase_if(t, [](const auto& p) { return p.second == 0.0; });
}

void validate(const ScheduleProblem& p) {
  const auto n = p.candidates.size();
  for (std::size_t r = 0; r < p.capacities.size(); ++r) {
    if (std::isnan(p.capacities[r]) || p.capacities[r] < 0.0) {
      bad("capacity " + std::to_string(r) + " must be >= 0");
    }
  }
  for (std::size_t c = 0; c < n; ++c) {
    const auto& cand = p.candidates[c];
    const auto where = "candidate " + std::to_string(c);
    if (!finite(cand.weight) || cand.weight <= 0.0) bad(where + ": weight must be positive");
    if (cand.values.empty() || cand.values.size() > 3) bad(where + ": needs 1 to 3 values");
    for (const auto& v : cand.values) {
      if (!finite(v.cost) || v.cost < 0.0) bad(where + ": a cost must be finite and >= 0");
      for (const auto& u : v.uses) {
        if (u.resource >= p.capacities.size()) bad(where + ": use of an unknown resource");
        if (!finite(u.amount) || u.amount < 0.0) bad(where + ": a use must be finite and >= 0");
      }
    }
  }
  auto check = [&](const ScheduleChoice& ch, const std::string& where) {
    if (ch.candidate >= n || ch.value >= p.candidates[ch.candidate].values.size()) {
      bad(where + ": no such candidate or value");
    }
  };
  for (const auto& t : p.forbidden_pairs) {
    for (const auto& ch : t) check(ch, "forbidden pair");
  }
  for (const auto& t : p.forbidden_triples) {
    for (const auto& ch : t) check(ch, "forbidden triple");
  }
  for (const auto& s : p.at_most_one) {
    for (const auto& ch : s) check(ch, "at-most-one set");
  }
  for (const auto& y : p.continuous) {
    if (!finite(y.lower) || std::isnan(y.upper) || y.upper < y.lower) {
      bad("a continuous variable needs a finite lower bound <= its upper bound");
    }
  }
  for (std::size_t r = 0; r < p.rows.size(); ++r) {
    const auto& row = p.rows[r];
    const auto where = "row " + std::to_string(r);
    if (std::isnan(row.lower) || std::isnan(row.upper) || row.lower > row.upper) {
      bad(where + ": bounds must satisfy lower <= upper");
    }
    for (const auto& t : row.terms) {
      check(t.choice, where);
      if (!finite(t.coefficient)) bad(where + ": coefficients must be finite");
    }
    for (const auto& t : row.continuous) {
      if (t.variable >= p.continuous.size()) bad(where + ": no such continuous variable");
      if (!finite(t.coefficient)) bad(where + ": coefficients must be finite");
    }
  }
}

}  // namespace

Compiled compile(const ScheduleProblem& p) {
  validate(p);
  Compiled out;
  const auto ncand = p.candidates.size();
  std::vector<std::uint32_t> base(ncand + 1, 0);
  for (std::size_t c = 0; c < ncand; ++c) {
    base[c + 1] = base[c] + static_cast<std::uint32_t>(p.candidates[c].values.size());
    const double w = p.candidates[c].weight;
    if (w != std::floor(w) || w > 1e15) out.integral_weights = false;
  }
  const std::uint32_t nn = base[ncand];
  auto node = [&](const ScheduleChoice& ch) {
    return base[ch.candidate] + static_cast<std::uint32_t>(ch.value);
  };
  std::vector<std::uint32_t> cand_of(nn);
  for (std::uint32_t c = 0; c < ncand; ++c) {
    for (auto g = base[c]; g < base[c + 1]; ++g) cand_of[g] = c;
  }
  std::vector<char> removed(nn, 0);

  // Packing rows: the capacities first, then the general rows that behave like them.
  std::vector<double> cap(p.capacities);
  std::vector<std::vector<std::pair<std::uint32_t, double>>> uses(nn);  // (packing row, amount)
  for (std::uint32_t c = 0; c < ncand; ++c) {
    for (std::size_t k = 0; k < p.candidates[c].values.size(); ++k) {
      auto& u = uses[base[c] + k];
      for (const auto& use : p.candidates[c].values[k].uses) {
        u.emplace_back(static_cast<std::uint32_t>(use.resource), use.amount);
      }
      merge_terms(u);
    }
  }
  std::vector<GRow> grows;
  for (const auto& row : p.rows) {
    GRow g;
    g.lower = row.lower;
    g.upper = row.upper;
    for (const auto& t : row.terms) g.x.emplace_back(node(t.choice), t.coefficient);
    for (const auto& t : row.continuous) {
      g.y.emplace_back(static_cast<std::uint32_t>(t.variable), t.coefficient);
    }
    merge_terms(g.x);
    merge_terms(g.y);
    if (g.x.empty() && g.y.empty()) {
      if (g.lower > tolerance(g.lower) || g.upper < -tolerance(g.upper)) out.infeasible = true;
      continue;
    }
    // The least and greatest activity of the row over all schedules, every node alone free.
    double lo = 0, hi = 0;
    for (const auto& [j, a] : g.y) {
      const auto& yv = p.continuous[j];
      lo += a > 0 ? a * yv.lower : a * yv.upper;
      hi += a > 0 ? a * yv.upper : a * yv.lower;
    }
    for (const auto& [n, a] : g.x) (a > 0 ? hi : lo) += a;
    // A value that alone pushes the row out of its bounds is never taken.
    for (const auto& [n, a] : g.x) {
      const double lo_n = lo - std::min(a, 0.0) + a, hi_n = hi - std::max(a, 0.0) + a;
      if (lo_n > g.upper + tolerance(g.upper) || hi_n < g.lower - tolerance(g.lower)) {
        removed[n] = 1;
      }
    }
    const bool packing = g.y.empty() && g.lower <= 0.0 && g.upper >= 0.0 &&
                         std::all_of(g.x.begin(), g.x.end(), [](auto& t) { return t.second > 0; });
    if (packing) {
      if (!std::isfinite(g.upper)) continue;
      const auto r = static_cast<std::uint32_t>(cap.size());
      cap.push_back(g.upper);
      for (const auto& [n, a] : g.x) uses[n].emplace_back(r, a);
    } else if (lo < g.lower - tolerance(g.lower) || hi > g.upper + tolerance(g.upper)) {
      grows.push_back(std::move(g));  // a row that some schedule could violate
    }
  }
  for (std::uint32_t n = 0; n < nn; ++n) {
    for (const auto& [r, a] : uses[n]) {
      if (a > cap[r] + tolerance(cap[r])) removed[n] = 1;
    }
  }
  // Forbidden pairs and triples: a repeated (candidate, value) forbids fewer nodes; two values
  // of one candidate are never taken together, which satisfies the tuple already.
  std::vector<std::vector<std::uint32_t>> adj(nn);
  auto add_edge = [&](std::uint32_t a, std::uint32_t b) {
    if (a == b) {
      removed[a] = 1;
    } else if (cand_of[a] != cand_of[b]) {
      adj[a].push_back(b);
      adj[b].push_back(a);
    }
  };
  for (const auto& t : p.forbidden_pairs) add_edge(node(t[0]), node(t[1]));
  std::vector<std::array<std::uint32_t, 3>> triples;
  for (const auto& t : p.forbidden_triples) {
    std::array<std::uint32_t, 3> g{node(t[0]), node(t[1]), node(t[2])};
    std::sort(g.begin(), g.end());
    if (g[0] == g[2]) {
      removed[g[0]] = 1;
    } else if (g[0] == g[1] || g[1] == g[2]) {
      add_edge(g[0], g[2]);
    } else if (cand_of[g[0]] != cand_of[g[1]] && cand_of[g[1]] != cand_of[g[2]] &&
               cand_of[g[0]] != cand_of[g[2]]) {
      triples.push_back(g);
    }
  }
  for (const auto& s : p.at_most_one) {
    for (std::size_t i = 0; i < s.size(); ++i) {
      for (std::size_t j = i + 1; j < s.size(); ++j) {
        if (node(s[i]) != node(s[j])) add_edge(node(s[i]), node(s[j]));
      }
    }
  }
  for (std::uint32_t c = 0; c < ncand; ++c) {
    for (auto a = base[c]; a < base[c + 1]; ++a) {
      for (auto b = a + 1; b < base[c + 1]; ++b) {
        adj[a].push_back(b);
        adj[b].push_back(a);
      }
    }
  }
  for (std::uint32_t n = 0; n < nn; ++n) {
    auto& a = adj[n];
    if (removed[n]) {
      a.clear();
      continue;
    }
    std::erase_if(a, [&](std::uint32_t m) { return removed[m] != 0; });
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
  }
  auto linked = [&](std::uint32_t a, std::uint32_t b) {
    return std::binary_search(adj[a].begin(), adj[a].end(), b);
  };
  std::erase_if(triples, [&](const auto& t) {
    return removed[t[0]] || removed[t[1]] || removed[t[2]] || linked(t[0], t[1]) ||
           linked(t[0], t[2]) || linked(t[1], t[2]);
  });
  std::sort(triples.begin(), triples.end());
  triples.erase(std::unique(triples.begin(), triples.end()), triples.end());
  for (std::uint32_t n = 0; n < nn; ++n) out.values_removed += removed[n] != 0;

  // A packing row that every schedule satisfies (each candidate at its largest use) is dropped.
  std::vector<double> most(cap.size(), 0.0);
  for (std::uint32_t c = 0; c < ncand; ++c) {
    std::vector<std::pair<std::uint32_t, double>> m;
    for (auto n = base[c]; n < base[c + 1]; ++n) {
      if (!removed[n]) m.insert(m.end(), uses[n].begin(), uses[n].end());
    }
    std::sort(m.begin(), m.end());
    for (std::size_t i = 0; i < m.size(); ++i) {
      if (i + 1 == m.size() || m[i + 1].first != m[i].first) most[m[i].first] += m[i].second;
    }
  }
  std::vector<char> binding(cap.size());
  for (std::size_t r = 0; r < cap.size(); ++r) binding[r] = most[r] > cap[r] + tolerance(cap[r]);

  // Independent parts: nodes and continuous variables linked by any constraint.
  const auto ny = static_cast<std::uint32_t>(p.continuous.size());
  UnionFind uf(nn + ny);
  for (std::uint32_t n = 0; n < nn; ++n) {
    for (auto m : adj[n]) uf.join(n, m);
  }
  for (const auto& t : triples) {
    uf.join(t[0], t[1]);
    uf.join(t[0], t[2]);
  }
  std::vector<std::int64_t> first_user(cap.size(), -1);
  for (std::uint32_t n = 0; n < nn; ++n) {
    if (removed[n]) continue;
    for (const auto& [r, a] : uses[n]) {
      if (!binding[r]) continue;
      if (first_user[r] < 0) first_user[r] = n;
      uf.join(static_cast<std::uint32_t>(first_user[r]), n);
    }
  }
  for (const auto& g : grows) {
    std::vector<std::uint32_t> members;
    for (const auto& [n, a] : g.x) {
      if (!removed[n]) members.push_back(n);
    }
    for (const auto& [j, a] : g.y) members.push_back(nn + j);
    for (std::size_t i = 1; i < members.size(); ++i) uf.join(members[0], members[i]);
  }
  std::vector<std::vector<std::uint32_t>> groups(nn + ny);
  for (std::uint32_t n = 0; n < nn + ny; ++n) {
    if (n < nn && removed[n]) continue;
    groups[uf.find(n)].push_back(n);
  }
  std::erase_if(groups, [](const auto& g) { return g.empty(); });
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.size() < b.size(); });

  std::vector<std::uint32_t> local(nn + ny, 0), part_of(nn + ny, 0);
  out.parts.resize(groups.size());
  for (std::uint32_t pi = 0; pi < groups.size(); ++pi) {
    Part& part = out.parts[pi];
    for (auto g : groups[pi]) {
      part_of[g] = pi;
      if (g >= nn) {
        local[g] = static_cast<std::uint32_t>(part.y.size());
        part.y.push_back(p.continuous[g - nn]);
        part.y_global.push_back(g - nn);
        continue;
      }
      const auto c = cand_of[g];
      if (part.var_candidate.empty() || part.var_candidate.back() != c) {
        part.var_candidate.push_back(c);
        part.var_first.push_back(static_cast<std::uint32_t>(part.node_var.size()));
      }
      local[g] = static_cast<std::uint32_t>(part.node_var.size());
      part.node_var.push_back(static_cast<std::uint32_t>(part.var_candidate.size() - 1));
      part.node_value.push_back(g - base[c]);
      part.weight.push_back(p.candidates[c].weight);
      part.cost.push_back(p.candidates[c].values[g - base[c]].cost);
    }
    part.var_first.push_back(static_cast<std::uint32_t>(part.node_var.size()));
    part.adj.resize(part.nodes());
    part.node_triples.resize(part.nodes());
    part.node_uses.resize(part.nodes());
    part.node_rows.resize(part.nodes());
  }
  for (std::uint32_t n = 0; n < nn; ++n) {
    if (removed[n]) continue;
    Part& part = out.parts[part_of[n]];
    auto& a = part.adj[local[n]];
    for (auto m : adj[n]) a.push_back(local[m]);
    std::sort(a.begin(), a.end());
  }
  for (const auto& t : triples) {
    Part& part = out.parts[part_of[t[0]]];
    const auto ti = static_cast<std::uint32_t>(part.triples.size());
    part.triples.push_back({local[t[0]], local[t[1]], local[t[2]]});
    for (auto g : t) part.node_triples[local[g]].push_back(ti);
  }
  std::vector<std::vector<std::int64_t>> local_row(out.parts.size(),
                                                   std::vector<std::int64_t>(cap.size(), -1));
  for (std::uint32_t n = 0; n < nn; ++n) {
    if (removed[n]) continue;
    const auto pi = part_of[n];
    Part& part = out.parts[pi];
    for (const auto& [r, a] : uses[n]) {
      if (!binding[r]) continue;
      auto& lr = local_row[pi][r];
      if (lr < 0) {
        lr = static_cast<std::int64_t>(part.cap.size());
        part.cap.push_back(cap[r]);
      }
      part.node_uses[local[n]].emplace_back(static_cast<std::uint32_t>(lr), a);
    }
  }
  for (const auto& g : grows) {
    std::int64_t pi = -1;
    Part::Row row;
    row.lower = g.lower;
    row.upper = g.upper;
    for (const auto& [n, a] : g.x) {
      if (removed[n]) continue;
      pi = part_of[n];
      row.x.emplace_back(local[n], a);
    }
    for (const auto& [j, a] : g.y) {
      pi = part_of[nn + j];
      row.y.emplace_back(local[nn + j], a);
    }
    if (pi < 0) {  // only removed nodes: the row holds at zero activity or never
      if (g.lower > tolerance(g.lower) || g.upper < -tolerance(g.upper)) out.infeasible = true;
      continue;
    }
    Part& part = out.parts[static_cast<std::size_t>(pi)];
    const auto ri = static_cast<std::uint32_t>(part.rows.size());
    for (const auto& [n, a] : row.x) part.node_rows[n].emplace_back(ri, a);
    part.rows.push_back(std::move(row));
  }
  return out;
}

bool check_part(const Part& part, PartSchedule& s) {
  s.weight = s.cost = 0;
  std::vector<char> in(part.nodes(), 0);
  for (std::size_t v = 0; v < part.vars(); ++v) {
    const auto n = s.node[v];
    if (n < 0) continue;
    if (static_cast<std::size_t>(n) >= part.nodes() || part.node_var[n] != v) return false;
    in[n] = 1;
    s.weight += part.weight[n];
    s.cost += part.cost[n];
  }
  for (std::size_t n = 0; n < part.nodes(); ++n) {
    if (!in[n]) continue;
    for (auto m : part.adj[n]) {
      if (in[m]) return false;
    }
  }
  for (const auto& t : part.triples) {
    if (in[t[0]] && in[t[1]] && in[t[2]]) return false;
  }
  std::vector<double> use(part.cap.size(), 0.0);
  for (std::size_t n = 0; n < part.nodes(); ++n) {
    if (!in[n]) continue;
    for (const auto& [r, a] : part.node_uses[n]) use[r] += a;
  }
  for (std::size_t r = 0; r < use.size(); ++r) {
    if (use[r] > part.cap[r] + tolerance(part.cap[r])) return false;
  }
  if (s.y.size() != part.y.size()) return false;
  for (std::size_t j = 0; j < part.y.size(); ++j) {
    const double t = 1e-7 * std::max(1.0, std::fabs(s.y[j]));
    if (s.y[j] < part.y[j].lower - t || s.y[j] > part.y[j].upper + t) return false;
  }
  for (const auto& row : part.rows) {
    double act = 0, scale = 1;
    for (const auto& [n, a] : row.x) {
      if (in[n]) act += a;
      scale = std::max(scale, std::fabs(a));
    }
    for (const auto& [j, a] : row.y) {
      act += a * s.y[j];
      scale = std::max(scale, std::fabs(a * s.y[j]));
    }
    // Continuous values come from a simplex: they hold to its feasibility tolerance.
    const double t = 1e-7 * scale;
    if (act < row.lower - t || act > row.upper + t) return false;
  }
  return true;
}

}  // namespace orvus::detail
