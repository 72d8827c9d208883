// The exact solver of a part: the 0-1 programme solved by CBC (branch and cut, one thread),
// started from the local search's schedule.
//
// Columns: x(n) in {0, 1} for each node, then the continuous variables. Rows: one per clique
// of the cover (sum <= 1; the one-value-per-candidate rule is among the conflicts), one per
// forbidden triple (x(a) + x(b) + x(c) <= 2), the packing rows, the general rows, and in cost
// mode the least weight (sum of weight * x >= min_weight).
//
// CBC keeps its own time limit between nodes only; its linear programmes (the first one of a
// large model can take minutes) are watched by an event handler of Clp, and its search by one
// of CBC, both polling the caller's budget: the clock or an interrupt stops them, and an
// exception from the budget's progress is kept until CBC has returned (none may pass through it).
#include <signal.h>

#include <CbcEventHandler.hpp>
#include <CbcModel.hpp>
#include <CbcSolver.hpp>
#include <ClpEventHandler.hpp>
#include <ClpSimplex.hpp>
#include <CoinError.hpp>
#include <OsiClpSolverInterface.hpp>
#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/schedule/schedule_internal.hpp"

namespace orvus::detail {
namespace {

// Below this many seconds for CBC, no preprocessing (see solve_milp).
constexpr double kNoPreprocessBelowS = 2.0;
// How long past CBC's own time limit its linear programmes may run before they are stopped:
// a fixed part and a share of its time.
constexpr double kLpGraceS = 0.1, kLpGraceShare = 0.02;
// CBC is not started with less time than this left after the linear relaxation.
constexpr double kLeastCbcS = 0.05;

constexpr double kInf = std::numeric_limits<double>::max();

double bound_or_inf(double b) {
  if (std::isfinite(b)) return b;
  return b > 0 ? kInf : -kInf;
}

// CBC puts a Ctrl-C handler of its own in place during its search, which would take the
// caller's interrupt for itself (CBC would stop, the caller never know). While any CBC runs,
// the handler found before the first is put back whenever CBC has changed it, and after the
// last.
class CallerSigint {
 public:
  CallerSigint() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (users_++ == 0) sigaction(SIGINT, nullptr, &saved_);
  }
  ~CallerSigint() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ == 0) sigaction(SIGINT, &saved_, nullptr);
  }
  CallerSigint(const CallerSigint&) = delete;
  CallerSigint& operator=(const CallerSigint&) = delete;
  // Outside CBC (its linear relaxation solved first, say) there is nothing to put back.
  static void keep() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (users_ == 0) return;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    if (now.sa_handler != saved_.sa_handler) sigaction(SIGINT, &saved_, nullptr);
  }

 private:
  static inline std::mutex mutex_;
  static inline int users_ = 0;
  static inline struct sigaction saved_ {};
};

// How often the Ctrl-C handler is checked while CBC runs.
constexpr auto kSigintCheck = std::chrono::milliseconds(1);

// What stops CBC, shared by its handlers and their clones: the end of its time, or the budget's
// progress (whose exception is kept for the caller).
struct Stop {
  Budget* budget = nullptr;
  Clock::time_point end;
  std::exception_ptr error;
  bool stopped = false;
  bool lp_stopped = false;  // a linear programme left unsolved
  Clock::time_point next_sigint_check{};
  bool now() {
    const auto t = Clock::now();
    if (t >= next_sigint_check) {
      CallerSigint::keep();
      next_sigint_check = t + kSigintCheck;
    }
    if (stopped) return true;
    try {
      budget->poll();
    } catch (...) {
      error = std::current_exception();
      stopped = true;
      return true;
    }
    stopped = t >= end;
    return stopped;
  }
};

class ClpStop : public ClpEventHandler {
 public:
  explicit ClpStop(Stop* stop) : stop_(stop) {}
  int event(Event e) override {
    // Each iteration and each factorization: the clock costs nothing beside them.
    if (e != endOfIteration && e != endOfFactorization) return -1;
    if (!stop_->now()) return -1;
    stop_->lp_stopped = true;
    return 0;
  }
  [[nodiscard]] ClpEventHandler* clone() const override { return new ClpStop(*this); }

 private:
  Stop* stop_;
};

class CbcStop : public CbcEventHandler {
 public:
  explicit CbcStop(Stop* stop) : stop_(stop) {}
  CbcAction event(CbcEvent /*e*/) override { return stop_->now() ? stop : noAction; }
  CbcAction event(CbcEvent e, void* /*data*/) override { return event(e); }
  [[nodiscard]] CbcEventHandler* clone() const override { return new CbcStop(*this); }

 private:
  Stop* stop_;
};

}  // namespace

MilpOutcome solve_milp(const Part& part, const std::vector<std::vector<std::uint32_t>>& cliques,
                       const PartSchedule& start, bool cost_mode, double min_weight, double seconds,
                       Budget& budget) {
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

  seconds = std::max(seconds, 0.01);
  Stop stop;
  stop.budget = &budget;
  // CBC's own limit first, between nodes (its bound then holds); the handlers a moment later,
  // for what runs past it.
  stop.end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                         seconds + std::min(kLpGraceS, kLpGraceShare * seconds)));
  OsiClpSolverInterface lp;
  lp.loadProblem(static_cast<int>(ncol), static_cast<int>(rows.size()), colstart.data(),
                 index.data(), value.data(), clo.data(), cup.data(), obj.data(), rlo.data(),
                 rup.data());
  for (std::size_t c = 0; c < nx; ++c) lp.setInteger(static_cast<int>(c));
  lp.setObjSense(-1.0);  // maximise
  lp.messageHandler()->setLogLevel(0);
  lp.getModelPtr()->setLogLevel(0);
  ClpStop clp_stop(&stop);
  lp.getModelPtr()->passInEventHandler(&clp_stop);
  // The linear relaxation first: its value bounds the weight whatever CBC then does, and a
  // model whose relaxation the time cannot solve is left to the search (CBC could do nothing
  // with it). CBC starts from its basis.
  const auto lp_start = Clock::now();
  lp.initialSolve();
  if (stop.error) std::rethrow_exception(stop.error);
  if (stop.lp_stopped || !lp.isProvenOptimal()) {
    out.optimal = false;
    out.bound = kInf;
    out.too_large = stop.lp_stopped;
    return out;
  }
  const double lp_bound = lp.getObjValue();
  seconds -= std::chrono::duration<double>(Clock::now() - lp_start).count();
  if (seconds < kLeastCbcS) {
    out.bound = cost_mode ? kInf : lp_bound;
    return out;
  }
  CbcModel model(lp);  // a copy of lp, its basis and the handler with it
  CbcSolverUsefulData data;
  CbcMain0(model, data);
  data.noPrinting_ = true;
  data.useSignalHandler_ = false;  // the caller's signals stay the caller's
  model.setLogLevel(0);
  model.messageHandler()->setLogLevel(0);
  model.setMaximumSeconds(seconds);
  const CbcStop cbc_stop(&stop);
  model.passInEventHandler(&cbc_stop);
  if (start.feasible) {
    std::vector<std::string> names(nx);
    std::vector<const char*> name_of(nx);
    std::vector<double> val(nx, 0.0);
    for (std::size_t n = 0; n < nx; ++n) {
      names[n] = model.solver()->getColName(static_cast<int>(n));
      name_of[n] = names[n].c_str();
    }
    for (auto n : start.node) {
      if (n >= 0) val[static_cast<std::size_t>(n)] = 1.0;
    }
    model.setMIPStart(static_cast<int>(nx), name_of.data(), val.data());
  }
  const std::string limit = std::to_string(seconds);
  std::vector<const char*> argv{"orvus",    "-log", "0",    "-timeMode",  "elapsed",
                                "-threads", "0",    "-sec", limit.c_str()};
  // CBC 2.10's preprocessing, stopped by the clock before it ends, can crash in its
  // post-processing; with little time left the search goes without it.
  // In the cost phase (the weight floor row) its preprocessing also reads a start's names past
  // the model's last column ("Illegal index" on standard error): CBC stops with an exception,
  // losing its work and leaking what it held. A cost phase with a start goes without it.
  if (seconds < kNoPreprocessBelowS || (cost_mode && start.feasible)) {
    argv.push_back("-preprocess");
    argv.push_back("off");
  }
  argv.push_back("-solve");
  argv.push_back("-quit");
  bool solved = true;
  {
    const CallerSigint sigint;
    try {
      CbcMain1(static_cast<int>(argv.size()), argv.data(), model, nullptr, data);
    } catch (const CoinError&) {
      solved = false;  // nothing from CBC: the start stands
    }
  }
  if (stop.error) std::rethrow_exception(stop.error);
  // Stopped by a user's interrupt that CBC's handler took: raised again for the caller's.
  if (solved && model.secondaryStatus() == 5 && !stop.stopped) std::raise(SIGINT);
  if (!solved) {
    out.optimal = false;
    out.bound = kInf;
    return out;
  }

  // A linear programme stopped by the clock may have closed a node it did not solve: nothing
  // CBC proves then stands.
  out.optimal = model.isProvenOptimal() && !stop.lp_stopped;
  const double* sol = model.bestSolution();
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
  double bound = model.getBestPossibleObjValue();
  if (!std::isfinite(bound) || std::fabs(bound) >= 1e29 || stop.lp_stopped) bound = kInf;
  if (!cost_mode) bound = std::min(bound, lp_bound);
  out.bound = out.optimal ? (cost_mode ? -out.best.cost : out.best.weight) : bound;
  return out;
}

}  // namespace orvus::detail
