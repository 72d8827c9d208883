// Coverage of the grid's cells: the accesses of each satellite (the points' sweep of the swath
// rule, then the plan's constraints), their statistics per cell and per area, the files, and
// the exact byte form of accesses computed elsewhere.
#include "orvus/coverage.hpp"

#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/plan/plan_internal.hpp"
#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"
#include "orvus/threads.hpp"

namespace orvus {

namespace {

constexpr double kRad = constants::deg_to_rad;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The Sun's Earth-fixed position at any instant of the interval from its positions at whole
// hours from the start (sun_earth_fixed): between two nodes each is turned with the Earth's
// rotation to the instant and the two are blended linearly. The Sun moves 2e-7 rad/s against
// the stars, so the blend's error is under (7e-4 rad)^2 / 8, 6e-8 rad: within 1e-5 deg of the
// Sun's elevation computed at the instant (tested).
class SunTrack {
 public:
  SunTrack(const UtcInstant& start, double span_s) {
    const auto n = static_cast<std::size_t>(std::ceil(std::max(span_s, 0.0) / kNode)) + 2;
    nodes_.resize(n);
    for (std::size_t k = 0; k < n; ++k)
      nodes_[k] = sun_earth_fixed(plan::after(start, static_cast<double>(k) * kNode));
  }
  [[nodiscard]] std::array<double, 3> at(double t) const {
    const double x = std::clamp(t / kNode, 0.0, static_cast<double>(nodes_.size() - 2));
    const auto k = static_cast<std::size_t>(std::floor(x));
    const double f = x - static_cast<double>(k);
    const auto turn = [](const std::array<double, 3>& v, double angle) {
      const double c = std::cos(angle), s = std::sin(angle);
      return std::array<double, 3>{c * v[0] - s * v[1], s * v[0] + c * v[1], v[2]};
    };
    const double w = constants::earth_rotation_rad_s * kNode;
    const auto a = turn(nodes_[k], -w * f), b = turn(nodes_[k + 1], w * (1.0 - f));
    return {(1.0 - f) * a[0] + f * b[0], (1.0 - f) * a[1] + f * b[1], (1.0 - f) * a[2] + f * b[2]};
  }

 private:
  static constexpr double kNode = 3600.0;  // s
  std::vector<std::array<double, 3>> nodes_;
};

// A cell's place for the Sun's elevation: its point on the WGS 84 ellipsoid (m, ERFA's
// eraGd2gc, as sun_elevation_from) and its vertical.
struct Site {
  std::array<double, 3> at{}, up{};
};

}  // namespace

namespace {

// The sweep's counts of one satellite: accesses found and removed by each constraint.
struct Counts {
  std::size_t found = 0, by_sun = 0, by_alpha = 0, by_pass = 0;
};

// An access kept: its instant (s from the plan's start), satellite and cell (index into
// CoverageGrid::cells).
struct Access {
  double t = 0.0;
  std::uint32_t satellite = 0, cell = 0;
};

// The cells [first, last) as the points of the sweep, with what the plan's constraints need of
// them; shared, read only, by the sweeps of every satellite.
class CellPoints {
 public:
  CellPoints(const Plan& plan, const CoverageGrid& grid, std::size_t first, std::size_t last)
      : plan_(plan), first_(first) {
    for (std::size_t i = first; i < last; ++i) {
      const CoverageGrid::Cell& c = grid.cells[i];
      if (pts_.begin.empty() || c.band != grid.cells[i - 1].band) {
        double lon = 0.0, lat = 0.0;
        corner_to_geocentric(0.0, c.lat_deg, lon, lat);
        pts_.lat.push_back(lat);
        pts_.width.push_back(360.0 / grid.band_cells[c.band]);
        pts_.columns.push_back(grid.band_cells[c.band]);
        pts_.begin.push_back(i - first);
      }
      double gc_lon = 0.0, gc_lat = 0.0;
      corner_to_geocentric(c.lon_deg, c.lat_deg, gc_lon, gc_lat);
      pts_.column.push_back(c.column);
      pts_.unit.push_back(plan::unit(std::clamp(gc_lon, -180.0, 180.0), gc_lat));
    }
    pts_.begin.push_back(last - first);
    if (plan.constraints.min_sun_elevation_deg) {
      sun_ = std::make_unique<SunTrack>(plan.interval.start,
                                        since_epoch(plan.interval.start, plan.interval.end));
      sites_.resize(last - first);
      for (std::size_t i = first; i < last; ++i) {
        const double lon = grid.cells[i].lon_deg * kRad, lat = grid.cells[i].lat_deg * kRad;
        Site& s = sites_[i - first];
        eraGd2gc(1, lon, lat, 0.0, s.at.data());
        s.up = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
      }
    }
  }

  [[nodiscard]] const plan::BandPoints& points() const { return pts_; }

  // The crossings the plan's constraints keep (Sun elevation at the cell, |BEST ALPHA|, pass)
  // appended to `kept`; each removed one counted under the first constraint it fails.
  void keep(const std::vector<plan::PointCrossing>& list, std::uint32_t satellite, Counts& n,
            std::vector<Access>& kept) const {
    const PlanConstraints& k = plan_.constraints;
    n.found += list.size();
    for (const plan::PointCrossing& c : list) {
      if (sun_) {
        const auto s = sun_->at(c.t);
        const Site& site = sites_[c.point];
        const double d[3] = {s[0] - site.at[0], s[1] - site.at[1], s[2] - site.at[2]};
        const double elevation =
            std::asin((d[0] * site.up[0] + d[1] * site.up[1] + d[2] * site.up[2]) /
                      std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2])) /
            kRad;
        if (!(elevation >= *k.min_sun_elevation_deg)) {
          ++n.by_sun;
          continue;
        }
      }
      if (k.max_abs_best_alpha_deg && !(std::fabs(c.alpha_deg) <= *k.max_abs_best_alpha_deg)) {
        ++n.by_alpha;
        continue;
      }
      if (k.pass != 0 && c.pass != k.pass) {
        ++n.by_pass;
        continue;
      }
      kept.push_back({c.t, satellite, static_cast<std::uint32_t>(first_ + c.point)});
    }
  }

 private:
  const Plan& plan_;
  std::size_t first_;
  plan::BandPoints pts_;
  std::unique_ptr<SunTrack> sun_;
  std::vector<Site> sites_;
};

// The statistics of every cell, fed the accesses of every satellite in time order (ties: the
// satellite earlier in the plan): a cell's figures need only its running count, first and last
// access and longest gap, so what is kept grows with the cells, never with the accesses.
class CellTally {
 public:
  CellTally(std::size_t cells, std::size_t satellites)
      : nsat_(satellites),
        cells_(cells),
        first_by_(cells * satellites, kNaN),
        count_by_(cells * satellites, 0),
        first_sat_(cells, 0) {}

  void add(const Access& a) {
    CoverageCellStats& st = cells_[a.cell];
    if (st.accesses == 0) {
      st.first_s = a.t;
      first_sat_[a.cell] = a.satellite;
    } else {
      const double gap = a.t - st.last_s;
      st.max_revisit_s = st.accesses == 1 ? gap : std::max(st.max_revisit_s, gap);
    }
    st.last_s = a.t;
    ++st.accesses;
    const std::size_t k = a.cell * nsat_ + a.satellite;
    if (count_by_[k]++ == 0) first_by_[k] = a.t;
  }

  // The cells' figures and the areas' series.
  CoverageResult finish(const Plan& plan, const CoverageGrid& grid) && {
    CoverageResult r;
    r.span_s = since_epoch(plan.interval.start, plan.interval.end);
    for (CoverageCellStats& st : cells_) {
      r.kept += st.accesses;
      if (st.accesses >= 2) st.mean_revisit_s = (st.last_s - st.first_s) / (st.accesses - 1);
    }
    r.areas.resize(grid.areas.size());
    for (std::size_t a = 0; a < grid.areas.size(); ++a) {
      const auto& cells = grid.areas[a].cells;
      auto& series = r.areas[a];
      series.resize(nsat_ + 1);
      for (std::size_t s = 0; s <= nsat_; ++s) {
        CoverageSeries& out = series[s];
        out.satellite = s == 0 ? CoverageSeries::kAll : s - 1;
        for (const std::uint32_t c : cells) {
          const CoverageCellStats& st = cells_[c];
          if (s == 0) {
            out.accesses += st.accesses;
            if (st.accesses > 0) {
              out.first_s.push_back(st.first_s);
              ++out.first_cells;
            }
            continue;
          }
          const std::size_t k = c * nsat_ + (s - 1);
          out.accesses += count_by_[k];
          if (count_by_[k] > 0) out.first_s.push_back(first_by_[k]);
          if (st.accesses > 0 && first_sat_[c] == s - 1) ++out.first_cells;
        }
        std::sort(out.first_s.begin(), out.first_s.end());
      }
    }
    r.cells = std::move(cells_);
    return r;
  }

 private:
  std::size_t nsat_;
  std::vector<CoverageCellStats> cells_;
  std::vector<double> first_by_;  // per cell and satellite
  std::vector<std::uint32_t> count_by_, first_sat_;
};

void add_counts(CoverageResult& r, const Counts& n) {
  r.found += n.found;
  r.by_sun += n.by_sun;
  r.by_alpha += n.by_alpha;
  r.by_pass += n.by_pass;
}

bool earlier(const Access& a, const Access& b) {
  return a.t < b.t;
}

}  // namespace

CoverageAccesses coverage_accesses(const Plan& plan, const EarthOrientation& eop,
                                   const CoverageGrid& grid, std::size_t satellite,
                                   std::size_t first, std::size_t last,
                                   const std::function<void(double)>& progress) {
  plan::check_satellite(plan, satellite);
  last = std::min(last, grid.cells.size());
  first = std::min(first, last);
  CoverageAccesses out;
  out.satellite = satellite;
  out.first = first;
  out.last = last;
  const CellPoints cells(plan, grid, first, last);
  Counts n;
  std::vector<Access> kept;
  plan::sweep_crossings(
      plan, eop, satellite, cells.points(),
      [&](const std::vector<plan::PointCrossing>& list) {
        cells.keep(list, static_cast<std::uint32_t>(satellite), n, kept);
      },
      progress, machine_threads());
  std::sort(kept.begin(), kept.end(), [](const Access& a, const Access& b) {
    return a.cell != b.cell ? a.cell < b.cell : a.t < b.t;
  });
  out.cell.reserve(kept.size());
  out.t.reserve(kept.size());
  for (const Access& a : kept) {
    out.cell.push_back(a.cell);
    out.t.push_back(a.t);
  }
  out.found = n.found;
  out.by_sun = n.by_sun;
  out.by_alpha = n.by_alpha;
  out.by_pass = n.by_pass;
  return out;
}

double coverage_reached_s(const CoverageSeries& series, std::size_t cells, int percent) {
  if (cells == 0) return kNaN;
  // The first time at least percent / 100 of the cells are covered.
  const std::size_t need = (static_cast<std::size_t>(percent) * cells + 99) / 100;
  if (need == 0) return 0.0;
  if (series.first_s.size() < need) return kNaN;
  return series.first_s[need - 1];
}

CoverageResult coverage_statistics(const Plan& plan, const CoverageGrid& grid,
                                   const std::vector<CoverageAccesses>& parts) {
  const std::size_t n = grid.cells.size(), nsat = plan.satellites.size();
  const auto bad = [](const std::string& what) {
    throw Error(ErrorKind::usage, {" THE COVERAGE'S PARTS DO NOT FIT THE GRID: " + what + ".",
                                   " EXECUTION INTERRUPTED."});
  };
  // Each satellite's parts must cover every cell once.
  for (std::size_t s = 0; s < nsat; ++s) {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (const CoverageAccesses& p : parts)
      if (p.satellite == s) ranges.emplace_back(p.first, p.last);
    std::sort(ranges.begin(), ranges.end());
    std::size_t at = 0;
    for (const auto& [a, b] : ranges) {
      if (a != at || b < a) bad("SATELLITE " + std::to_string(s + 1) + " HAS CELLS TWICE OR NONE");
      at = b;
    }
    if (at != n) bad("SATELLITE " + std::to_string(s + 1) + " MISSES CELLS");
  }
  // Every access by cell, then time, then satellite.
  Counts counts;
  std::vector<std::size_t> offset(n + 1, 0);
  for (const CoverageAccesses& p : parts) {
    if (p.satellite >= nsat) bad("A PART NAMES NO SATELLITE OF THE PLAN");
    if (p.cell.size() != p.t.size()) bad("A PART'S COLUMNS DIFFER IN LENGTH");
    for (const std::uint32_t c : p.cell) {
      if (c < p.first || c >= p.last) bad("A PART HOLDS A CELL OUTSIDE ITS RANGE");
      ++offset[c + 1];
    }
    counts.found += p.found;
    counts.by_sun += p.by_sun;
    counts.by_alpha += p.by_alpha;
    counts.by_pass += p.by_pass;
  }
  for (std::size_t c = 0; c < n; ++c) offset[c + 1] += offset[c];
  std::vector<Access> all(offset[n]);
  {
    std::vector<std::size_t> fill(offset.begin(), offset.end() - 1);
    for (const CoverageAccesses& p : parts)
      for (std::size_t i = 0; i < p.cell.size(); ++i)
        all[fill[p.cell[i]]++] = {p.t[i], static_cast<std::uint32_t>(p.satellite), p.cell[i]};
  }
  CellTally tally(n, nsat);
  for (std::size_t c = 0; c < n; ++c) {
    const auto b = all.begin() + static_cast<std::ptrdiff_t>(offset[c]);
    const auto e = all.begin() + static_cast<std::ptrdiff_t>(offset[c + 1]);
    std::sort(b, e, [](const Access& x, const Access& y) {
      return x.t != y.t ? x.t < y.t : x.satellite < y.satellite;
    });
    for (auto it = b; it != e; ++it) tally.add(*it);
  }
  CoverageResult r = std::move(tally).finish(plan, grid);
  add_counts(r, counts);
  return r;
}

// Every satellite's sweep at once, each on its own thread with the machine's threads, their
// accesses joined in time order on the calling thread as they come. Blocks of a sweep arrive
// in time order (within one, in any order): no later block of a satellite holds an access
// earlier than the latest it has handed over (to within a rounding of the step's ends, well
// inside kSlack). So the accesses of every satellite earlier than the least of those latest
// instants, less kSlack, are final: they go to the tally in time order, ties by satellite.
// A sweep holding more waiting accesses than the grid has cells waits while it is ahead of
// another one or while some of them are final (until the tally has taken them); the sweep
// furthest behind never waits for another one. What waits is thus about a block (some hours)
// of accesses per satellite: the memory follows the cells, not the length of the run.
CoverageResult run_coverage(const Plan& plan, const EarthOrientation& eop, const CoverageGrid& grid,
                            const std::function<void(double)>& progress) {
  constexpr double kSlack = 1.0;  // s
  const std::size_t nsat = plan.satellites.size(), ncells = grid.cells.size();
  const std::size_t lead = std::max<std::size_t>(ncells, 1);
  const CellPoints cells(plan, grid, 0, ncells);
  CellTally tally(ncells, nsat);

  struct Lane {
    std::vector<Access> waiting;  // [head, end): sorted by time
    std::size_t head = 0;
    double reached = -std::numeric_limits<double>::infinity();  // latest access handed over
    double share = 0.0;                                         // of its sweep done
    bool done = false;
    Counts counts;
    std::exception_ptr error;
    [[nodiscard]] std::size_t size() const { return waiting.size() - head; }
  };
  std::vector<Lane> lanes(nsat);
  std::mutex mutex;
  std::condition_variable to_tally, to_sweeps;
  bool changed = false;
  std::size_t stop_from = nsat;  // sweeps of satellites from this one on stop
  struct Stopped {};

  const auto ahead = [&](std::size_t s) {
    for (std::size_t r = 0; r < nsat; ++r)
      if (r != s && !lanes[r].done && lanes[r].reached < lanes[s].reached) return true;
    return false;
  };
  const auto final_before = [&] {  // the instant before which every access is final
    double cut = std::numeric_limits<double>::infinity();
    for (const Lane& l : lanes)
      if (!l.done) cut = std::min(cut, l.reached - kSlack);
    return cut;
  };
  const auto sweep = [&](std::size_t s) {
    Lane& lane = lanes[s];
    std::vector<Access> kept;
    try {
      plan::sweep_crossings(
          plan, eop, s, cells.points(),
          [&](const std::vector<plan::PointCrossing>& list) {
            kept.clear();
            cells.keep(list, static_cast<std::uint32_t>(s), lane.counts, kept);
            std::sort(kept.begin(), kept.end(), earlier);
            double latest = lane.reached;
            for (const plan::PointCrossing& c : list) latest = std::max(latest, c.t);
            std::unique_lock<std::mutex> lock(mutex);
            if (s >= stop_from) throw Stopped{};
            if (lane.head > lane.waiting.size() / 2) {
              lane.waiting.erase(lane.waiting.begin(),
                                 lane.waiting.begin() + static_cast<std::ptrdiff_t>(lane.head));
              lane.head = 0;
            }
            const auto mid = static_cast<std::ptrdiff_t>(lane.waiting.size());
            lane.waiting.insert(lane.waiting.end(), kept.begin(), kept.end());
            const auto begin = lane.waiting.begin() + static_cast<std::ptrdiff_t>(lane.head);
            if (begin < lane.waiting.begin() + mid && !kept.empty() &&
                kept.front().t < lane.waiting[static_cast<std::size_t>(mid) - 1].t)
              std::inplace_merge(begin, lane.waiting.begin() + mid, lane.waiting.end(), earlier);
            lane.reached = latest;
            changed = true;
            to_tally.notify_one();
            to_sweeps.wait(lock, [&] {
              return s >= stop_from || lane.size() <= lead ||
                     !(ahead(s) || lane.waiting[lane.head].t < final_before());
            });
            if (s >= stop_from) throw Stopped{};
          },
          [&](double f) {
            const std::lock_guard<std::mutex> lock(mutex);
            lane.share = f;
            changed = true;
            to_tally.notify_one();
          },
          machine_threads());
    } catch (const Stopped&) {
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex);
      lane.error = std::current_exception();
      stop_from = std::min(stop_from, s + 1);  // the satellites before it still run, as
                                               // they would one after the other
    }
    const std::lock_guard<std::mutex> lock(mutex);
    lane.done = true;
    changed = true;
    to_tally.notify_one();
    to_sweeps.notify_all();
  };

  std::vector<std::thread> threads;
  const auto stop_all = [&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop_from = 0;
    }
    to_sweeps.notify_all();
    for (std::thread& t : threads)
      if (t.joinable()) t.join();
  };
  try {
    for (std::size_t s = 0; s < nsat; ++s) threads.emplace_back(sweep, s);
    std::vector<Access> batch;
    std::vector<std::size_t> ends;
    std::unique_lock<std::mutex> lock(mutex);
    for (bool all_done = false; !all_done;) {
      to_tally.wait(lock, [&] { return changed; });
      changed = false;
      all_done = std::all_of(lanes.begin(), lanes.end(), [](const Lane& l) { return l.done; });
      const double cut = final_before();
      batch.clear();
      ends.clear();
      double share = 0.0;
      for (Lane& l : lanes) {
        const auto b = l.waiting.begin() + static_cast<std::ptrdiff_t>(l.head);
        const auto e = std::lower_bound(b, l.waiting.end(), Access{cut, 0, 0}, earlier);
        batch.insert(batch.end(), b, e);
        ends.push_back(batch.size());
        l.head = static_cast<std::size_t>(e - l.waiting.begin());
        share += l.share;
      }
      lock.unlock();
      to_sweeps.notify_all();
      // Each lane's accesses are in time order: merged lane after lane, the merge keeping
      // those of the earlier satellite first on a tie.
      for (std::size_t k = 1; k < ends.size(); ++k) {
        const auto mid = batch.begin() + static_cast<std::ptrdiff_t>(ends[k - 1]);
        const auto end = batch.begin() + static_cast<std::ptrdiff_t>(ends[k]);
        if (mid != end) std::inplace_merge(batch.begin(), mid, end, earlier);
      }
      for (const Access& a : batch) tally.add(a);
      if (progress) progress(share / static_cast<double>(nsat));
      lock.lock();
    }
  } catch (...) {
    stop_all();
    throw;
  }
  stop_all();
  for (const Lane& l : lanes)
    if (l.error) std::rethrow_exception(l.error);
  CoverageResult r = std::move(tally).finish(plan, grid);
  for (const Lane& l : lanes) add_counts(r, l.counts);
  return r;
}

// ---- files ----

void write_coverage_cells_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                              std::ostream& out) {
  write_table_csv(
      PlanTable::coverage_cells, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { coverage_cell_rows(plan, grid, r, sink); }, out);
}

// Written as it goes: one feature a row of coverage_cells.csv (its numbers as the table writes
// them, null where it writes none), its cell as a polygon.
void write_coverage_cells_geojson(const Plan& plan, const CoverageGrid& grid,
                                  const CoverageResult& r, std::ostream& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  plan::JsonProperties properties(PlanTable::coverage_cells, plan.interval.utc_offset_hours, true);
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    for (const std::uint32_t c : grid.areas[a].cells) {
      plan::coverage_cell_row(plan, grid, r, a, c, properties);
      const Box b = grid.bounds(c);
      const std::string x1 = plan::fixed_text(b.lon1, 6), x2 = plan::fixed_text(b.lon2, 6);
      const std::string y1 = plan::fixed_text(b.lat1, 6), y2 = plan::fixed_text(b.lat2, 6);
      out << (first ? "\n" : ",\n");
      first = false;
      // The properties without their leading comma.
      out << "{\"type\":\"Feature\",\"properties\":{" << properties.take().substr(1)
          << "},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[[" << x1 << ',' << y1 << "],["
          << x2 << ',' << y1 << "],[" << x2 << ',' << y2 << "],[" << x1 << ',' << y2 << "],[" << x1
          << ',' << y1 << "]]]}}";
    }
  }
  out << "\n]}\n";
}

void write_coverage_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                        std::ostream& out) {
  write_table_csv(
      PlanTable::coverage, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { coverage_rows(plan, grid, r, sink); }, out);
}

void write_coverage_summary_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                                std::ostream& out) {
  write_table_csv(
      PlanTable::coverage_summary, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { coverage_summary_rows(plan, grid, r, sink); }, out);
}

// ---- bytes ----

namespace {
constexpr char kMagic[8] = {'O', 'R', 'V', 'C', 'O', 'V', '0', '1'};
}  // namespace

std::string serialize_coverage_accesses(const CoverageAccesses& p) {
  std::string b(kMagic, sizeof kMagic);
  const auto put = [&b](std::uint64_t v) { b.append(reinterpret_cast<const char*>(&v), sizeof v); };
  for (const std::size_t v :
       {p.satellite, p.first, p.last, p.found, p.by_sun, p.by_alpha, p.by_pass, p.cell.size()})
    put(v);
  b.append(reinterpret_cast<const char*>(p.cell.data()), p.cell.size() * sizeof(std::uint32_t));
  b.append(reinterpret_cast<const char*>(p.t.data()), p.t.size() * sizeof(double));
  return b;
}

CoverageAccesses plan::read_coverage_accesses(const std::string& bytes, std::size_t& at) {
  const auto corrupt = [] {
    throw Error(ErrorKind::input,
                {" THE COVERAGE ACCESSES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
  };
  if (bytes.size() < at || bytes.size() - at < sizeof kMagic + std::size_t{8} * 8 ||
      std::memcmp(bytes.data() + at, kMagic, sizeof kMagic) != 0)
    corrupt();
  at += sizeof kMagic;
  const auto get = [&] {
    std::uint64_t v = 0;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    at += sizeof v;
    return static_cast<std::size_t>(v);
  };
  CoverageAccesses p;
  p.satellite = get();
  p.first = get();
  p.last = get();
  p.found = get();
  p.by_sun = get();
  p.by_alpha = get();
  p.by_pass = get();
  const std::size_t n = get();
  if (n > bytes.size() || bytes.size() - at < n * (sizeof(std::uint32_t) + sizeof(double)))
    corrupt();
  if (n == 0) return p;  // an empty vector's data() may be null, which memcpy may not take
  p.cell.resize(n);
  p.t.resize(n);
  std::memcpy(p.cell.data(), bytes.data() + at, n * sizeof(std::uint32_t));
  at += n * sizeof(std::uint32_t);
  std::memcpy(p.t.data(), bytes.data() + at, n * sizeof(double));
  at += n * sizeof(double);
  return p;
}

CoverageAccesses deserialize_coverage_accesses(const std::string& bytes) {
  std::size_t at = 0;
  CoverageAccesses p = plan::read_coverage_accesses(bytes, at);
  if (at != bytes.size()) {
    throw Error(ErrorKind::input,
                {" THE COVERAGE ACCESSES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
  }
  return p;
}

}  // namespace orvus
