// The exact solver of a part: the 0-1 programme solved by CBC (branch and cut, one thread),
// started from the local search's schedule.
//
// Columns: x(n) in {0, 1} for each node, then the continuous variables. Rows: one per clique
// of the cover (sum <= 1; the one-value-per-candidate rule is among the conflicts), one per
// forbidden triple (x(a) + x(b) + x(c) <= 2), the packing rows, the general rows, and in cost
// mode the least weight (sum of weight * x >= min_weight).
#include <Cbc_C_Interface.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/schedule/schedule_internal.hpp"

namespace orvus::detail {
namespace {

// Below this many seconds for CBC, no preprocessing (see solve_milp).
constexpr double kNoPreprocessBelowS = 2.0;

struct ModelDeleter {
  void operator()(Cbc_Model* m) const { Cbc_deleteModel(m); }
};

constexpr double kInf = std::numeric_limits<double>::max();

double bound_or_inf(double b) {
  if (std::isfinite(b)) return b;
  return b > 0 ? kInf : -kInf;
}

}  // namespace

MilpOutcome solve_milp(const Part& part, const std::vector<std::vector<std::uint32_t>>& cliques,
                       const PartSchedule& start, bool cost_mode, double min_weight,
                       double seconds) {
  MilpOutcome out;
  out.best = start;
  const auto nx = part.nodes();
  const auto ncol = nx + part.y.size();

  // Rows as (column, coefficient) lists with their bounds, then in column order for CBC.
  std::vector<std::vector<std::pair<int, double>>> rows;
  std::vector<double> rlo, rup;
  auto add_row = [&](std::vector<std::pair<int, double>> r, double lo, double up) {
    rows.push_back(std::move(r));
    rlo.push_back(bound_or_inf(lo));
    rup.push_back(bound_or_inf(up));
  };
  for (const auto& c : cliques) {
    std::vector<std::pair<int, double>> r;
    r.reserve(c.size());
    for (auto n : c) r.emplace_back(static_cast<int>(n), 1.0);
    add_row(std::move(r), -kInf, 1.0);
  }
  // Triples sharing a pair (a, b) whose third nodes conflict with one another give one row
  // x(a) + x(b) + sum of the thirds <= 2 (a and b together exclude every third; otherwise
  // at most one of each side), tighter than their rows apart.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint32_t>> thirds;
  for (const auto& t : part.triples) {
    thirds[{t[0], t[1]}].push_back(t[2]);
    thirds[{t[0], t[2]}].push_back(t[1]);
    thirds[{t[1], t[2]}].push_back(t[0]);
  }
  std::set<std::array<std::uint32_t, 3>> lifted;
  for (auto& entry : thirds) {
    const auto ab = entry.first;
    auto& third = entry.second;
    if (third.size() < 2) continue;
    std::sort(third.begin(), third.end());
    std::vector<char> used(third.size(), 0);
    for (std::size_t i = 0; i < third.size(); ++i) {
      if (used[i]) continue;
      std::vector<std::uint32_t> k{third[i]};
      for (std::size_t j = i + 1; j < third.size(); ++j) {
        const bool meets_all = std::all_of(k.begin(), k.end(), [&](std::uint32_t m) {
          return std::binary_search(part.adj[m].begin(), part.adj[m].end(), third[j]);
        });
        if (!used[j] && meets_all) {
          k.push_back(third[j]);
          used[j] = 1;
        }
      }
      if (k.size() < 2) continue;
      std::vector<std::pair<int, double>> r{{static_cast<int>(ab.first), 1.0},
                                            {static_cast<int>(ab.second), 1.0}};
      for (auto c : k) {
        r.emplace_back(static_cast<int>(c), 1.0);
        std::array<std::uint32_t, 3> t{ab.first, ab.second, c};
        std::sort(t.begin(), t.end());
        lifted.insert(t);
      }
      add_row(std::move(r), -kInf, 2.0);
    }
  }
  for (const auto& t : part.triples) {
    if (lifted.count(t) != 0) continue;
    add_row({{static_cast<int>(t[0]), 1.0},
             {static_cast<int>(t[1]), 1.0},
             {static_cast<int>(t[2]), 1.0}},
            -kInf, 2.0);
  }
  {
    std::vector<std::vector<std::pair<int, double>>> packing(part.cap.size());
    for (std::size_t n = 0; n < nx; ++n) {
      for (const auto& [r, a] : part.node_uses[n]) packing[r].emplace_back(static_cast<int>(n), a);
    }
    for (std::size_t r = 0; r < packing.size(); ++r) {
      add_row(std::move(packing[r]), -kInf, part.cap[r]);
    }
  }
  for (const auto& g : part.rows) {
    std::vector<std::pair<int, double>> r;
    for (const auto& [n, a] : g.x) r.emplace_back(static_cast<int>(n), a);
    for (const auto& [j, a] : g.y) r.emplace_back(static_cast<int>(nx + j), a);
    add_row(std::move(r), g.lower, g.upper);
  }
  if (cost_mode) {
    std::vector<std::pair<int, double>> r;
    for (std::size_t n = 0; n < nx; ++n) r.emplace_back(static_cast<int>(n), part.weight[n]);
    add_row(std::move(r), min_weight, kInf);
  }
  std::vector<std::vector<std::pair<int, double>>> cols(ncol);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const auto& [c, a] : rows[i]) cols[c].emplace_back(static_cast<int>(i), a);
  }
  std::vector<CoinBigIndex> colstart{0};
  std::vector<int> index;
  std::vector<double> value, clo, cup, obj;
  for (std::size_t c = 0; c < ncol; ++c) {
    for (const auto& [r, a] : cols[c]) {
      index.push_back(r);
      value.push_back(a);
    }
    colstart.push_back(static_cast<CoinBigIndex>(index.size()));
    if (c < nx) {
      clo.push_back(0.0);
      cup.push_back(1.0);
      obj.push_back(cost_mode ? -part.cost[c] : part.weight[c]);
    } else {
      clo.push_back(part.y[c - nx].lower);
      cup.push_back(bound_or_inf(part.y[c - nx].upper));
      obj.push_back(0.0);
    }
  }

  std::unique_ptr<Cbc_Model, ModelDeleter> m(Cbc_newModel());
  Cbc_loadProblem(m.get(), static_cast<int>(ncol), static_cast<int>(rows.size()), colstart.data(),
                  index.data(), value.data(), clo.data(), cup.data(), obj.data(), rlo.data(),
                  rup.data());
  for (std::size_t c = 0; c < nx; ++c) Cbc_setInteger(m.get(), static_cast<int>(c));
  Cbc_setObjSense(m.get(), -1.0);  // maximise
  Cbc_setLogLevel(m.get(), 0);
  Cbc_setParameter(m.get(), "timeMode", "elapsed");
  Cbc_setParameter(m.get(), "threads", "0");
  Cbc_setMaximumSeconds(m.get(), std::max(seconds, 0.01));
  // CBC 2.10's preprocessing, stopped by the clock before it ends, can crash in its
  // post-processing; with little time left the search goes without it.
  if (seconds < kNoPreprocessBelowS) Cbc_setParameter(m.get(), "preprocess", "off");
  if (start.feasible) {
    std::vector<int> idx(nx);
    std::vector<double> val(nx, 0.0);
    for (std::size_t n = 0; n < nx; ++n) idx[n] = static_cast<int>(n);
    for (auto n : start.node) {
      if (n >= 0) val[static_cast<std::size_t>(n)] = 1.0;
    }
    Cbc_setMIPStartI(m.get(), static_cast<int>(nx), idx.data(), val.data());
  }
  Cbc_solve(m.get());

  out.optimal = Cbc_isProvenOptimal(m.get()) != 0;
  const double* sol = Cbc_bestSolution(m.get());
  if (sol != nullptr) {
    PartSchedule s;
    s.node.assign(part.vars(), -1);
    for (std::size_t n = 0; n < nx; ++n) {
      if (sol[n] > 0.5) s.node[part.node_var[n]] = static_cast<std::int32_t>(n);
    }
    s.y.assign(sol + nx, sol + ncol);
    s.feasible = check_part(part, s);
    const bool improves =
        !start.feasible ||
        (cost_mode ? s.weight >= min_weight && s.cost < start.cost : s.weight > start.weight);
    if (!s.feasible) out.optimal = false;  // off by more than the row tolerances: not kept
    if (s.feasible && improves) out.best = std::move(s);
  }
  if (!out.best.feasible) out.optimal = false;
  // The bound of a maximisation: never below what was found.
  double bound = Cbc_getBestPossibleObjValue(m.get());
  if (!std::isfinite(bound) || std::fabs(bound) >= 1e29) bound = kInf;
  out.bound = out.optimal ? (cost_mode ? -out.best.cost : out.best.weight) : bound;
  return out;
}

}  // namespace orvus::detail
