// The scheduler against exhaustive enumeration, hand-solved cases and the SPOT5 optima, every
// answer re-checked by a feasibility checker written here, apart from the solver.
#include "orvus/schedule.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <random>
#include <set>
#include <thread>

#include "../bench/spot5.hpp"
#include "core/schedule/schedule_internal.hpp"
#include "orvus/error.hpp"

namespace {

using orvus::ScheduleChoice;
using orvus::ScheduleProblem;
using orvus::ScheduleResult;

bool taken(const std::vector<int>& value, const ScheduleChoice& c) {
  return value[c.candidate] == static_cast<int>(c.value);
}

// How many distinct (candidate, value) of a set are taken.
std::size_t taken_in(const std::vector<int>& value, const std::vector<ScheduleChoice>& set) {
  std::set<std::pair<std::size_t, std::size_t>> in;
  for (const auto& c : set) {
    if (taken(value, c)) in.insert({c.candidate, c.value});
  }
  return in.size();
}

// Every constraint of the problem, on the answer alone; recomputes weight and cost.
void expect_feasible(const ScheduleProblem& p, const ScheduleResult& r) {
  ASSERT_EQ(r.value.size(), p.candidates.size());
  double weight = 0, cost = 0;
  std::vector<double> use(p.capacities.size(), 0.0);
  for (std::size_t c = 0; c < p.candidates.size(); ++c) {
    const int k = r.value[c];
    if (k < 0) continue;
    ASSERT_LT(k, static_cast<int>(p.candidates[c].values.size()));
    weight += p.candidates[c].weight;
    cost += p.candidates[c].values[k].cost;
    for (const auto& u : p.candidates[c].values[k].uses) use[u.resource] += u.amount;
  }
  for (const auto& t : p.forbidden_pairs)
    EXPECT_FALSE(taken(r.value, t[0]) && taken(r.value, t[1]));
  for (const auto& t : p.forbidden_triples) {
    EXPECT_FALSE(taken(r.value, t[0]) && taken(r.value, t[1]) && taken(r.value, t[2]));
  }
  for (const auto& s : p.at_most_one) EXPECT_LE(taken_in(r.value, s), 1U);
  for (std::size_t i = 0; i < use.size(); ++i) EXPECT_LE(use[i], p.capacities[i] + 1e-9);
  ASSERT_EQ(r.continuous.size(), p.continuous.size());
  for (std::size_t j = 0; j < p.continuous.size(); ++j) {
    EXPECT_GE(r.continuous[j], p.continuous[j].lower - 1e-6);
    EXPECT_LE(r.continuous[j], p.continuous[j].upper + 1e-6);
  }
  for (const auto& row : p.rows) {
    double a = 0;
    for (const auto& t : row.terms) a += taken(r.value, t.choice) ? t.coefficient : 0.0;
    for (const auto& t : row.continuous) a += t.coefficient * r.continuous[t.variable];
    EXPECT_GE(a, row.lower - 1e-6);
    EXPECT_LE(a, row.upper + 1e-6);
  }
  EXPECT_NEAR(r.objective, weight, 1e-9);
  EXPECT_NEAR(r.cost, cost, 1e-9);
  EXPECT_GE(r.bound, r.objective - 1e-9);
}

// Exhaustive search over all value choices: the greatest weight, then the least cost.
struct Best {
  double weight = -1, cost = 0;
};
void enumerate(const ScheduleProblem& p, std::vector<int>& value, std::size_t c, Best& best) {
  auto ok = [&] {
    for (const auto& t : p.forbidden_pairs) {
      if (taken(value, t[0]) && taken(value, t[1])) return false;
    }
    for (const auto& t : p.forbidden_triples) {
      if (taken(value, t[0]) && taken(value, t[1]) && taken(value, t[2])) return false;
    }
    for (const auto& s : p.at_most_one) {
      if (taken_in(value, s) > 1) return false;
    }
    for (std::size_t r = 0; r < p.capacities.size(); ++r) {
      double use = 0;
      for (std::size_t i = 0; i < c; ++i) {
        if (value[i] < 0) continue;
        for (const auto& u : p.candidates[i].values[value[i]].uses) {
          if (u.resource == r) use += u.amount;
        }
      }
      if (use > p.capacities[r]) return false;
    }
    return true;
  };
  if (!ok()) return;  // constraints only forbid: no extension of a bad prefix is good
  if (c == p.candidates.size()) {
    double w = 0, k = 0;
    for (std::size_t i = 0; i < c; ++i) {
      if (value[i] < 0) continue;
      w += p.candidates[i].weight;
      k += p.candidates[i].values[value[i]].cost;
    }
    if (w > best.weight || (w == best.weight && k < best.cost)) best = {w, k};
    return;
  }
  for (int k = -1; k < static_cast<int>(p.candidates[c].values.size()); ++k) {
    value[c] = k;
    enumerate(p, value, c + 1, best);
  }
  value[c] = -1;
}

ScheduleProblem random_problem(std::mt19937& rng, std::size_t n) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  ScheduleProblem p;
  p.capacities = {static_cast<double>(pick(4, 12))};
  for (std::size_t c = 0; c < n; ++c) {
    orvus::ScheduleCandidate cand;
    cand.weight = pick(1, 4);  // few distinct weights: many ties for the cost to break
    for (int k = pick(1, 3); k > 0; --k) {
      cand.values.push_back(
          {static_cast<double>(pick(0, 3)), {{0, static_cast<double>(pick(0, 3))}}});
    }
    p.candidates.push_back(cand);
  }
  auto choice = [&] {
    const auto c = static_cast<std::size_t>(pick(0, static_cast<int>(n) - 1));
    return ScheduleChoice{
        c, static_cast<std::size_t>(pick(0, static_cast<int>(p.candidates[c].values.size()) - 1))};
  };
  for (int i = pick(static_cast<int>(n), 3 * static_cast<int>(n)); i > 0; --i) {
    p.forbidden_pairs.push_back({choice(), choice()});
  }
  for (int i = pick(0, static_cast<int>(n)); i > 0; --i) {
    p.forbidden_triples.push_back({choice(), choice(), choice()});
  }
  if (pick(0, 1) != 0) p.at_most_one.push_back({choice(), choice(), choice(), choice()});
  return p;
}

TEST(Schedule, AgreesWithExhaustiveSearchOnRandomProblems) {
  std::mt19937 rng(20260423);
  for (int trial = 0; trial < 60; ++trial) {
    const auto n = static_cast<std::size_t>(6 + trial % 13);  // 6 to 18 candidates
    const auto p = random_problem(rng, n);
    std::vector<int> value(n, -1);
    Best best;
    enumerate(p, value, 0, best);
    for (const bool exact : {true, false}) {
      orvus::ScheduleOptions opt;
      opt.time_limit_s = 20;
      opt.exact = exact;
      const auto r = orvus::solve_schedule(p, opt);
      SCOPED_TRACE("trial " + std::to_string(trial) + (exact ? " exact" : " search"));
      expect_feasible(p, r);
      if (!exact) continue;  // the search alone only has to be feasible
      EXPECT_TRUE(r.optimal && r.cost_optimal);
      EXPECT_EQ(r.objective, best.weight);
      EXPECT_EQ(r.cost, best.cost);
      EXPECT_EQ(r.bound, r.objective);
      // Same problem, same schedule.
      EXPECT_EQ(orvus::solve_schedule(p, opt).value, r.value);
    }
  }
}

// A recorder of 10 Gbit, four acquisitions of 4 Gbit each (weights 1, 1, 1, 2) in time order,
// and one station pass between the second and the third that downlinks y Gbit.
TEST(Schedule, RecorderWithDownlinkAsContinuousRows) {
  ScheduleProblem p;
  for (double w : {1.0, 1.0, 1.0, 2.0}) p.candidates.push_back({w, {{0.0, {}}}});
  p.continuous.push_back({0.0, 6.0});  // y: data downlinked over the pass (Gbit)
  auto x = [](std::size_t c, double a) { return orvus::ScheduleTerm{{c, 0}, a}; };
  // Level after each acquisition: data taken so far minus what the pass (after the second
  // acquisition) took away, at most the recorder's 10 Gbit.
  p.rows.push_back({{x(0, 4), x(1, 4)}, {}, -INFINITY, 10});
  p.rows.push_back({{x(0, 4), x(1, 4), x(2, 4)}, {{0, -1.0}}, -INFINITY, 10});
  p.rows.push_back({{x(0, 4), x(1, 4), x(2, 4), x(3, 4)}, {{0, -1.0}}, -INFINITY, 10});
  // The pass only downlinks what was taken before it.
  p.rows.push_back({{x(0, -4), x(1, -4)}, {{0, 1.0}}, -INFINITY, 0});
  // All four need 16 - 6 = 10 Gbit: they fit, taking 6 Gbit down over the pass (y = 6).
  auto r = orvus::solve_schedule(p);
  expect_feasible(p, r);
  EXPECT_EQ(r.objective, 5.0);
  EXPECT_TRUE(r.optimal);
  EXPECT_NEAR(r.continuous[0], 6.0, 1e-6);
  // A pass of at most 3 Gbit: all four would need y >= 6, so one image of weight 1 goes
  // (12 - y <= 10 with y = 2 or 3 fits whichever it is): weight 4, the weight-2 image kept.
  p.continuous[0].upper = 3.0;
  r = orvus::solve_schedule(p);
  expect_feasible(p, r);
  EXPECT_EQ(r.objective, 4.0);
  EXPECT_EQ(r.value[3], 0);
  orvus::ScheduleOptions search_only;
  search_only.exact = false;
  const auto s = orvus::solve_schedule(p, search_only);
  expect_feasible(p, s);
  EXPECT_EQ(s.objective, 4.0);  // the local search's linear check finds it too
}

TEST(Schedule, ValuesOverACapacityAloneAndRowsTheEmptyScheduleBreaks) {
  // Candidate 0's first value needs 5 units of a capacity of 4: never taken, its second is.
  ScheduleProblem p;
  p.capacities = {4.0};
  p.candidates.push_back({3.0, {{0.0, {{0, 5.0}}}, {1.0, {{0, 2.0}}}}});
  p.candidates.push_back({1.0, {{0.0, {{0, 2.0}}}}});
  p.candidates.push_back({1.0, {{0.0, {{0, 1.0}}}}});
  auto r = orvus::solve_schedule(p);
  expect_feasible(p, r);
  EXPECT_EQ(r.values_removed, 1U);
  EXPECT_EQ(r.value[0], 1);
  EXPECT_EQ(r.objective, 4.0);  // 0 and one of the others: 2 + 2 or 2 + 1 units
  EXPECT_EQ(r.cost, 1.0);
  // "Take candidates 1 and 2 together" (x1 + x2 >= 2): the empty schedule breaks it, the
  // search cannot start, and the exact solver alone finds {1, 2} (weight 2; 0 no longer fits).
  p.rows.push_back({{{{1, 0}, 1.0}, {{2, 0}, 1.0}}, {}, 2.0, INFINITY});
  r = orvus::solve_schedule(p);
  expect_feasible(p, r);
  EXPECT_TRUE(r.feasible && r.optimal);
  EXPECT_EQ(r.objective, 2.0);
  EXPECT_EQ(r.search_objective, 0.0);
}

TEST(Schedule, Spot5InstancesReachTheirOptima) {
  for (const auto& [name, optimum] :
       std::vector<std::pair<std::string, long>>{{"8", 10}, {"54", 70}, {"404", 49}}) {
    const auto inst = spot5::read(std::string(ORVUS_TEST_DATA) + "/spot5/" + name + ".spot");
    const auto p = spot5::to_problem(inst);
    const auto r = orvus::solve_schedule(p, {});
    SCOPED_TRACE(name);
    expect_feasible(p, r);
    EXPECT_TRUE(r.optimal);
    EXPECT_EQ(r.objective, optimum);
    std::vector<int> codes(inst.photos.size(), 0);
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (r.value[i] >= 0) codes[i] = inst.photos[i].values[r.value[i]];
    }
    EXPECT_TRUE(spot5::violations(inst, codes).empty());
  }
}

TEST(Schedule, ShortTimeLimitStillGivesAFeasibleSchedule) {
  const auto inst = spot5::read(std::string(ORVUS_TEST_DATA) + "/spot5/1401.spot");
  const auto p = spot5::to_problem(inst);
  orvus::ScheduleOptions opt;
  opt.time_limit_s = 0.5;
  const auto r = orvus::solve_schedule(p, opt);
  expect_feasible(p, r);
  EXPECT_GT(r.objective, 0.0);
  EXPECT_FALSE(r.optimal);  // the known best is far from the linear bound
}

// A model whose first linear programme takes CBC much longer than the limit (20,000
// candidates under 2,000 long overlapping packing rows): the limit still holds, with the local
// search's schedule.
TEST(Schedule, TheTimeLimitHoldsThroughCbcsFirstLinearProgramme) {
  std::mt19937 rng(5);
  ScheduleProblem p;
  const std::size_t n = 20000, width = 2000, step = 10;
  for (std::size_t c = 0; c < n; ++c) {
    p.candidates.push_back({1.0 + static_cast<double>(rng() % 5), {{}}});
    for (std::size_t d = 1; d <= 3 && c + d < n; ++d)
      p.forbidden_pairs.push_back({{{c, 0}, {c + d, 0}}});
  }
  for (std::size_t first = 0; first + width <= n; first += step) {
    orvus::ScheduleRow row;
    for (std::size_t c = first; c < first + width; ++c)
      row.terms.push_back({{c, 0}, 1.0 + static_cast<double>(rng() % 3)});
    row.upper = 150.0 + static_cast<double>(rng() % 50);
    p.rows.push_back(std::move(row));
  }
  orvus::ScheduleOptions opt;
  opt.time_limit_s = 2.0;
  const auto t0 = std::chrono::steady_clock::now();
  const auto r = orvus::solve_schedule(p, opt);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(took, opt.time_limit_s + 1.0);
  expect_feasible(p, r);
  EXPECT_GT(r.objective, 0.0);
  EXPECT_FALSE(r.optimal);
}

// Ctrl-C while CBC searches: the caller's handler sees it, the progress throws, and the
// exception leaves the solve within a moment (not at the end of CBC's share of a minute), the
// caller's handler still in place.
std::atomic<bool> interrupted{false};
extern "C" void on_interrupt(int) {
  interrupted = true;
}
struct Interrupt {};

TEST(Schedule, ACallersInterruptStopsCbcAndLeavesAsThrown) {
  const auto p = spot5::to_problem(spot5::read(std::string(ORVUS_TEST_DATA) + "/spot5/1401.spot"));
  struct sigaction mine {
  }, before{}, after{};
  mine.sa_handler = on_interrupt;
  sigemptyset(&mine.sa_mask);
  sigaction(SIGINT, &mine, &before);
  orvus::ScheduleOptions opt;
  opt.time_limit_s = 60.0;
  opt.search_moves = 100;  // CBC from the start
  opt.progress = [](double) {
    if (interrupted.exchange(false)) throw Interrupt{};  // once, as Python raises it
  };
  interrupted = false;
  std::thread ctrl_c([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(getpid(), SIGINT);
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_THROW(orvus::solve_schedule(p, opt), Interrupt);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ctrl_c.join();
  EXPECT_LT(took, 1.5);
  sigaction(SIGINT, &before, &after);
  EXPECT_EQ(after.sa_handler, on_interrupt);
}

TEST(Schedule, CliqueCoverHoldsEveryConflictAndOnlyConflicts) {
  std::mt19937 rng(7);
  const auto p = random_problem(rng, 40);
  for (const auto& part : orvus::detail::compile(p).parts) {
    std::set<std::pair<std::uint32_t, std::uint32_t>> covered;
    for (const auto& k : orvus::detail::clique_cover(part)) {
      for (std::size_t a = 0; a < k.size(); ++a) {
        for (std::size_t b = a + 1; b < k.size(); ++b) {
          ASSERT_TRUE(std::binary_search(part.adj[k[a]].begin(), part.adj[k[a]].end(), k[b]));
          covered.insert({std::min(k[a], k[b]), std::max(k[a], k[b])});
        }
      }
    }
    for (std::uint32_t n = 0; n < part.nodes(); ++n) {
      for (auto m : part.adj[n]) EXPECT_TRUE(covered.count({std::min(n, m), std::max(n, m)}));
    }
  }
}

TEST(Schedule, MalformedProblemsAreRefused) {
  auto refuses = [](const ScheduleProblem& p) {
    try {
      orvus::solve_schedule(p);
    } catch (const orvus::Error& e) {
      return e.kind() == orvus::ErrorKind::input;
    }
    return false;
  };
  ScheduleProblem ok;
  ok.candidates.push_back({1.0, {{0.0, {}}}});
  auto p = ok;
  p.candidates[0].weight = 0;
  EXPECT_TRUE(refuses(p));
  p = ok;
  p.candidates[0].values.assign(4, {});
  EXPECT_TRUE(refuses(p));
  p = ok;
  p.forbidden_pairs.push_back({ScheduleChoice{0, 0}, ScheduleChoice{0, 1}});
  EXPECT_TRUE(refuses(p));
  p = ok;
  p.candidates[0].values[0].uses.push_back({0, 1.0});  // no such resource
  EXPECT_TRUE(refuses(p));
  p = ok;
  p.rows.push_back({{}, {}, 1.0, 2.0});  // no variable, cannot hold
  EXPECT_TRUE(refuses(p));
}

}  // namespace
