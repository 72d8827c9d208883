// Greedy and tabu search over the feasible schedules of a part.
//
// A move takes a node that is not taken and drops whatever would then break a constraint: its
// conflicting nodes (its candidate's other value among them), one node of each forbidden
// triple it would complete (the lighter), and for each packing row it would overflow, taken
// nodes in increasing order of weight per unit used until the row fits. From the empty schedule
// the best moves only add: that is the greedy start. Later the best move may lose weight; the
// candidates it dropped may not come back for a few moves (the tabu tenure) unless that gives a
// new best. Rows with continuous variables are checked, after the move is chosen, by a linear
// programme over those variables with the taken nodes fixed.
#include <ClpSimplex.hpp>
#include <CoinPackedMatrix.hpp>
#include <CoinPackedVector.hpp>
#include <OsiClpSolverInterface.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "core/schedule/schedule_internal.hpp"

namespace orvus::detail {
namespace {

constexpr double kEps = 1e-9;

struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint32_t seed) : s(0x9E3779B97F4A7C15ULL ^ (std::uint64_t{seed} << 1U)) {}
  std::uint64_t next() {  // xorshift64*
    s ^= s >> 12U;
    s ^= s << 25U;
    s ^= s >> 27U;
    return s * 0x2545F4914F6CDD1DULL;
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
};

// Feasibility of the rows that have continuous variables, for a given activity of their
// node terms: a linear programme over the continuous variables alone.
class Oracle {
 public:
  explicit Oracle(const Part& part) : part_(part) {
    for (std::uint32_t r = 0; r < part.rows.size(); ++r) {
      if (!part.rows[r].y.empty()) rows_.push_back(r);
    }
    if (rows_.empty()) return;
    lp_ = std::make_unique<OsiClpSolverInterface>();
    lp_->messageHandler()->setLogLevel(0);
    lp_->getModelPtr()->setLogLevel(0);
    const auto ny = static_cast<int>(part.y.size());
    CoinPackedMatrix m(false, 0, 0);
    m.setDimensions(0, ny);
    std::vector<double> lo, up;
    for (auto r : rows_) {
      CoinPackedVector v;
      for (const auto& [j, a] : part.rows[r].y) v.insert(static_cast<int>(j), a);
      m.appendRow(v);
      lo.push_back(part.rows[r].lower);
      up.push_back(part.rows[r].upper);
    }
    std::vector<double> ylo, yup, obj(static_cast<std::size_t>(ny), 0.0);
    for (const auto& y : part.y) {
      ylo.push_back(y.lower);
      yup.push_back(std::isfinite(y.upper) ? y.upper : lp_->getInfinity());
    }
    for (auto& b : lo) b = std::isfinite(b) ? b : -lp_->getInfinity();
    for (auto& b : up) b = std::isfinite(b) ? b : lp_->getInfinity();
    lp_->loadProblem(m, ylo.data(), yup.data(), obj.data(), lo.data(), up.data());
  }
  [[nodiscard]] bool needed() const { return lp_ != nullptr; }

  // act[r]: activity of the node terms of row r.
  bool feasible(const std::vector<double>& act) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const auto& row = part_.rows[rows_[i]];
      const double a = act[rows_[i]];
      lp_->setRowBounds(static_cast<int>(i),
                        std::isfinite(row.lower) ? row.lower - a : -lp_->getInfinity(),
                        std::isfinite(row.upper) ? row.upper - a : lp_->getInfinity());
    }
    if (first_) {
      lp_->initialSolve();
      first_ = false;
    } else {
      lp_->resolve();
    }
    return lp_->isProvenOptimal();
  }
  [[nodiscard]] std::vector<double> y() const {
    const double* s = lp_->getColSolution();
    return {s, s + part_.y.size()};
  }

 private:
  const Part& part_;
  std::vector<std::uint32_t> rows_;
  std::unique_ptr<OsiClpSolverInterface> lp_;
  bool first_ = true;
};

}  // namespace

class Search {
 public:
  Search(const Part& part, std::uint32_t seed)
      : p_(part),
        rng_(seed),
        in_(part.nodes(), 0),
        sel_(part.vars(), -1),
        confw_(part.nodes(), 0.0),
        use_(part.cap.size(), 0.0),
        act_(part.rows.size(), 0.0),
        tabu_(part.vars(), 0),
        gone_(part.nodes(), 0),
        row_delta_(part.rows.size(), 0.0),
        row_mark_(part.rows.size(), 0),
        oracle_(part) {
    for (std::size_t r = 0; r < part.rows.size(); ++r) has_y_ = has_y_ || !part.rows[r].y.empty();
    load_.assign(part.nodes(), 0.0);
    for (std::size_t n = 0; n < part.nodes(); ++n) {
      for (const auto& [r, a] : part.node_uses[n]) {
        if (part.cap[r] > 0) load_[n] += a / part.cap[r];
      }
    }
  }

  // Starts from `start` (a feasible schedule) or else the empty schedule; false when that
  // breaks a row.
  bool begin(const PartSchedule* start) {
    if (start != nullptr && start->feasible) {
      set_selection(start->node);
    } else if (!rows_hold_at_start()) {
      return false;
    }
    keep_as_best();
    const std::size_t nv = std::max<std::size_t>(p_.vars(), 1);
    // Tabu tenures grow with the part; they cycle through one, two and three times their base
    // at each restart.
    stall_limit_ = std::max<std::uint64_t>(2000, 50 * nv);
    tenure_min0_ = 3 + nv / 50;
    tenure_span0_ = 5 + nv / 20;
    tenure_min_ = tenure_min0_;
    tenure_span_ = tenure_span0_;
    all_weight_ = least_cost_ = 0;
    for (std::size_t v = 0; v < p_.vars(); ++v) {
      all_weight_ += p_.weight[p_.var_first[v]];
      double c = std::numeric_limits<double>::infinity();
      for (auto n = p_.var_first[v]; n < p_.var_first[v + 1]; ++n) c = std::min(c, p_.cost[n]);
      least_cost_ += c;
    }
    begun_ = true;
    return true;
  }

  // Up to `moves` more moves of the same trajectory, stopping at `deadline`; the best schedule
  // found so far (infeasible when the search could not begin).
  PartSchedule run(std::uint64_t moves, Clock::time_point deadline, Budget& budget) {
    PartSchedule out;
    out.node.assign(p_.vars(), -1);
    if (!begun_) return out;
    constexpr int kCycle = 3;
    for (std::uint64_t done = 0; done < moves; ++done) {
      // A move of a large part looks at every node: the clock costs nothing beside it.
      if (Clock::now() >= deadline) break;
      budget.poll();
      if (best_w_ >= all_weight_ - kEps && best_c_ <= least_cost_ + kEps) break;
      ++iter_;
      if (since_best_ > stall_limit_) {
        restart();
        since_best_ = 0;
        // Short and long tenures in turn: some regions need one, some the other.
        ++restarts_;
        tenure_min_ = tenure_min0_ * (1 + restarts_ % kCycle);
        tenure_span_ = tenure_span0_ * (1 + restarts_ % kCycle);
      }
      const auto n = choose();
      if (n < 0) {
        restart();
        continue;
      }
      apply(static_cast<std::uint32_t>(n), tenure_min_, tenure_span_);
      if (has_y_ && !oracle_.feasible(act_)) {
        undo(static_cast<std::uint32_t>(n));
        tabu_[p_.node_var[n]] = iter_ + tenure_min_ + rng_.below(tenure_span_);
        ++since_best_;
        continue;
      }
      if (better(w_, c_, l_, best_w_, best_c_, best_l_)) {
        keep_as_best();
        since_best_ = 0;
      } else {
        ++since_best_;
      }
    }
    out.node = best_sel_;
    if (has_y_) {
      // The continuous values of the best schedule, the search's own left as they were.
      const std::vector<std::int32_t> now = sel_;
      set_selection(best_sel_);
      oracle_.feasible(act_);
      out.y = oracle_.y();
      set_selection(now);
      oracle_.feasible(act_);
    } else {
      for (const auto& y : p_.y) out.y.push_back(y.lower);
    }
    out.feasible = check_part(p_, out);
    return out;
  }

 private:
  void keep_as_best() {
    best_sel_ = sel_;
    best_w_ = w_;
    best_c_ = c_;
    best_l_ = l_;
  }

  // Weight first, then cost, then the load of the packing rows (room left for more).
  static bool better(double w, double c, double l, double bw, double bc, double bl) {
    if (w > bw + kEps || w < bw - kEps) return w > bw;
    if (c < bc - kEps || c > bc + kEps) return c < bc;
    return l < bl - kEps;
  }

  bool rows_hold_at_start() {
    for (const auto& row : p_.rows) {
      if (row.y.empty() && (0.0 < row.lower - kEps || 0.0 > row.upper + kEps)) return false;
    }
    return !has_y_ || oracle_.feasible(act_);
  }

  void add(std::uint32_t n) {
    ++version_;
    in_[n] = 1;
    sel_[p_.node_var[n]] = static_cast<std::int32_t>(n);
    w_ += p_.weight[n];
    c_ += p_.cost[n];
    l_ += load_[n];
    for (auto m : p_.adj[n]) confw_[m] += p_.weight[n];
    for (const auto& [r, a] : p_.node_uses[n]) use_[r] += a;
    for (const auto& [r, a] : p_.node_rows[n]) act_[r] += a;
  }
  void remove(std::uint32_t n) {
    ++version_;
    in_[n] = 0;
    sel_[p_.node_var[n]] = -1;
    w_ -= p_.weight[n];
    c_ -= p_.cost[n];
    l_ -= load_[n];
    for (auto m : p_.adj[n]) confw_[m] -= p_.weight[n];
    for (const auto& [r, a] : p_.node_uses[n]) use_[r] -= a;
    for (const auto& [r, a] : p_.node_rows[n]) act_[r] -= a;
  }
  void set_selection(const std::vector<std::int32_t>& sel) {
    for (std::uint32_t n = 0; n < p_.nodes(); ++n) {
      if (in_[n]) remove(n);
    }
    for (auto n : sel) {
      if (n >= 0) add(static_cast<std::uint32_t>(n));
    }
  }

  // The nodes a move that takes n must drop (in drop_), or false when the move cannot be made
  // feasible that way (a row without continuous variables that dropping does not mend).
  bool plan(std::uint32_t n) {
    ++stamp_;
    drop_.clear();
    auto drop = [&](std::uint32_t m) {
      gone_[m] = stamp_;
      drop_.push_back(m);
    };
    for (auto m : p_.adj[n]) {
      if (in_[m]) drop(m);
    }
    for (auto t : p_.node_triples[n]) {
      const auto& tr = p_.triples[t];
      std::uint32_t a = tr[0] == n ? tr[1] : tr[0];
      std::uint32_t b = tr[2] == n ? tr[1] : tr[2];
      if (!in_[a] || !in_[b] || gone_[a] == stamp_ || gone_[b] == stamp_) continue;
      if (p_.weight[b] < p_.weight[a] ||
          (p_.weight[b] == p_.weight[a] && p_.cost[b] > p_.cost[a])) {
        std::swap(a, b);
      }
      drop(a);
    }
    for (const auto& [r, a] : p_.node_uses[n]) {
      double excess = use_[r] + a - p_.cap[r] - kRowTolerance * std::max(1.0, p_.cap[r]);
      if (excess <= 0) continue;
      for (auto m : drop_) {
        for (const auto& [r2, a2] : p_.node_uses[m]) {
          if (r2 == r) excess -= a2;
        }
      }
      if (excess <= 0) continue;
      const auto& order = by_ratio(r);
      for (const auto& [ratio, m] : order) {
        if (excess <= 0) break;
        if (gone_[m] == stamp_ || m == n) continue;
        for (const auto& [r2, a2] : p_.node_uses[m]) {
          if (r2 == r) excess -= a2;
        }
        drop(m);
      }
      if (excess > 0) return false;
    }
    if (!p_.rows.empty()) {
      touched_.clear();
      auto touch = [&](std::uint32_t m, double sign) {
        for (const auto& [r, a] : p_.node_rows[m]) {
          if (row_mark_[r] != stamp_) {
            row_mark_[r] = stamp_;
            row_delta_[r] = 0;
            touched_.push_back(r);
          }
          row_delta_[r] += sign * a;
        }
      };
      touch(n, 1.0);
      for (auto m : drop_) touch(m, -1.0);
      for (auto r : touched_) {
        const auto& row = p_.rows[r];
        if (!row.y.empty()) continue;
        const double v = act_[r] + row_delta_[r];
        const double t =
            kRowTolerance * std::max({1.0, std::fabs(row.lower), std::fabs(row.upper)});
        if (v < row.lower - t || v > row.upper + t) return false;
      }
    }
    return true;
  }

  // Taken nodes that use packing row r, by increasing weight per unit used (built again when
  // the schedule has changed).
  const std::vector<std::pair<double, std::uint32_t>>& by_ratio(std::uint32_t r) {
    if (ratio_version_.size() != p_.cap.size()) {
      ratio_version_.assign(p_.cap.size(), 0);
      ratio_.resize(p_.cap.size());
    }
    if (ratio_version_[r] != version_) {
      ratio_version_[r] = version_;
      auto& o = ratio_[r];
      o.clear();
      for (auto m : sel_) {
        if (m < 0) continue;
        for (const auto& [r2, a2] : p_.node_uses[m]) {
          if (r2 == r && a2 > 0) o.emplace_back(p_.weight[m] / a2, m);
        }
      }
      std::sort(o.begin(), o.end());
    }
    return ratio_[r];
  }

  // The best admissible move: greatest weight gained, then least cost and load added, ties at
  // random.
  std::int64_t choose() {
    std::int64_t best = -1;
    double bdw = -std::numeric_limits<double>::infinity(), bdc = 0, bdl = 0;
    std::uint64_t ties = 0;
    for (std::uint32_t n = 0; n < p_.nodes(); ++n) {
      if (in_[n]) continue;
      const double bound = p_.weight[n] - confw_[n];
      if (bound < bdw - kEps) continue;
      const bool tabu = tabu_[p_.node_var[n]] > iter_;
      if (tabu && w_ + bound < best_w_ - kEps) continue;
      if (!plan(n)) continue;
      double dw = p_.weight[n], dc = p_.cost[n], dl = load_[n];
      for (auto m : drop_) {
        dw -= p_.weight[m];
        dc -= p_.cost[m];
        dl -= load_[m];
      }
      if (tabu && !better(w_ + dw, c_ + dc, l_ + dl, best_w_, best_c_, best_l_)) continue;
      if (best < 0 || better(dw, dc, dl, bdw, bdc, bdl)) {
        best = n;
        bdw = dw;
        bdc = dc;
        bdl = dl;
        ties = 1;
      } else if (!better(bdw, bdc, bdl, dw, dc, dl) && rng_.below(++ties) == 0) {
        best = n;
      }
    }
    return best;
  }

  void apply(std::uint32_t n, std::uint64_t tenure_min, std::uint64_t tenure_span) {
    plan(n);
    applied_ = drop_;
    for (auto m : applied_) {
      remove(m);
      tabu_[p_.node_var[m]] = iter_ + tenure_min + rng_.below(tenure_span);
    }
    add(n);
  }
  void undo(std::uint32_t n) {
    remove(n);
    for (auto m : applied_) add(m);
  }

  // Back to the best schedule, shaken by a few random moves taken whatever they cost.
  void restart() {
    set_selection(best_sel_);
    std::fill(tabu_.begin(), tabu_.end(), 0);
    const std::size_t kicks = 2 + rng_.below(1 + p_.vars() / 20);
    for (std::size_t k = 0; k < kicks && p_.nodes() > 0; ++k) {
      const auto n = static_cast<std::uint32_t>(rng_.below(p_.nodes()));
      if (in_[n] || !plan(n)) continue;
      apply(n, 5, 1 + p_.vars() / 10);
      if (has_y_ && !oracle_.feasible(act_)) undo(n);
    }
  }

  const Part& p_;
  Rng rng_;
  std::vector<char> in_;
  std::vector<std::int32_t> sel_, best_sel_;
  std::vector<double> confw_, use_, act_;
  std::vector<std::uint64_t> tabu_;
  std::vector<std::uint64_t> gone_;
  std::uint64_t stamp_ = 0, iter_ = 0, version_ = 1;
  std::vector<std::uint32_t> drop_, applied_, touched_;
  std::vector<double> row_delta_;
  std::vector<std::uint64_t> row_mark_;
  std::vector<std::uint64_t> ratio_version_;
  std::vector<std::vector<std::pair<double, std::uint32_t>>> ratio_;
  Oracle oracle_;
  bool has_y_ = false;
  std::vector<double> load_;  // per node: sum over its packing rows of amount / capacity
  double w_ = 0, c_ = 0, l_ = 0, best_w_ = 0, best_c_ = 0, best_l_ = 0;
  bool begun_ = false;
  std::uint64_t stall_limit_ = 0, tenure_min0_ = 0, tenure_span0_ = 0, tenure_min_ = 0,
                tenure_span_ = 0, since_best_ = 0;
  int restarts_ = 0;
  double all_weight_ = 0, least_cost_ = 0;
};

LocalSearch::LocalSearch(const Part& part, std::uint32_t seed)
    : impl_(std::make_unique<Search>(part, seed)) {}
LocalSearch::~LocalSearch() = default;
bool LocalSearch::begin(const PartSchedule* start) {
  return impl_->begin(start);
}
PartSchedule LocalSearch::run(std::uint64_t moves, Clock::time_point deadline, Budget& budget) {
  return impl_->run(moves, deadline, budget);
}

PartSchedule local_search(const Part& part, std::uint64_t moves, std::uint32_t seed,
                          Clock::time_point deadline, const PartSchedule* start, Budget& budget) {
  LocalSearch s(part, seed);
  s.begin(start);
  return s.run(moves, deadline, budget);
}

}  // namespace orvus::detail
