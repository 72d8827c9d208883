// Coverage of the grid's cells: the accesses of each satellite (the points' sweep of the swath
// rule, then the plan's constraints), their statistics per cell and per area, the files, and
// the exact byte form of accesses computed elsewhere.
#include "orvus/coverage.hpp"

#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
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

// The instant t seconds after the plan's start, to the millisecond.
UtcInstant instant(const Plan& plan, double t) {
  return plan::after(plan.interval.start, std::round(t * 1000.0) / 1000.0);
}

std::string fixed(double v, int digits) {
  if (!std::isfinite(v)) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  if (buf[0] == '-' && std::strspn(buf + 1, "0.") == std::strlen(buf + 1)) return buf + 1;
  return buf;
}

std::string hours(double s) {
  return fixed(s / 3600.0, 4);
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

  // The cells as points on their bands, in the grid's order.
  plan::BandPoints pts;
  for (std::size_t i = first; i < last; ++i) {
    const CoverageGrid::Cell& c = grid.cells[i];
    if (pts.begin.empty() || c.band != grid.cells[i - 1].band) {
      double lon = 0.0, lat = 0.0;
      corner_to_geocentric(0.0, c.lat_deg, lon, lat);
      pts.lat.push_back(lat);
      pts.width.push_back(360.0 / grid.band_cells[c.band]);
      pts.columns.push_back(grid.band_cells[c.band]);
      pts.begin.push_back(i - first);
    }
    double gc_lon = 0.0, gc_lat = 0.0;
    corner_to_geocentric(c.lon_deg, c.lat_deg, gc_lon, gc_lat);
    pts.column.push_back(c.column);
    pts.unit.push_back(plan::unit(std::clamp(gc_lon, -180.0, 180.0), gc_lat));
  }
  pts.begin.push_back(last - first);

  const PlanConstraints& k = plan.constraints;
  const double span = since_epoch(plan.interval.start, plan.interval.end);
  std::unique_ptr<SunTrack> sun;
  std::vector<Site> sites;
  if (k.min_sun_elevation_deg) {
    sun = std::make_unique<SunTrack>(plan.interval.start, span);
    sites.resize(last - first);
    for (std::size_t i = first; i < last; ++i) {
      const double lon = grid.cells[i].lon_deg * kRad, lat = grid.cells[i].lat_deg * kRad;
      Site& s = sites[i - first];
      eraGd2gc(1, lon, lat, 0.0, s.at.data());
      s.up = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    }
  }
  std::vector<std::pair<std::uint32_t, double>> kept;
  auto found = [&](const std::vector<plan::PointCrossing>& list) {
    out.found += list.size();
    for (const plan::PointCrossing& c : list) {
      if (sun) {
        const auto s = sun->at(c.t);
        const Site& site = sites[c.point];
        const double d[3] = {s[0] - site.at[0], s[1] - site.at[1], s[2] - site.at[2]};
        const double elevation =
            std::asin((d[0] * site.up[0] + d[1] * site.up[1] + d[2] * site.up[2]) /
                      std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2])) /
            kRad;
        if (!(elevation >= *k.min_sun_elevation_deg)) {
          ++out.by_sun;
          continue;
        }
      }
      if (k.max_abs_best_alpha_deg && !(std::fabs(c.alpha_deg) <= *k.max_abs_best_alpha_deg)) {
        ++out.by_alpha;
        continue;
      }
      if (k.pass != 0 && c.pass != k.pass) {
        ++out.by_pass;
        continue;
      }
      kept.emplace_back(static_cast<std::uint32_t>(first + c.point), c.t);
    }
  };
  plan::sweep_points(plan, eop, satellite, pts, found, progress, machine_threads());
  std::sort(kept.begin(), kept.end());
  out.cell.reserve(kept.size());
  out.t.reserve(kept.size());
  for (const auto& [c, t] : kept) {
    out.cell.push_back(c);
    out.t.push_back(t);
  }
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
  CoverageResult r;
  r.span_s = since_epoch(plan.interval.start, plan.interval.end);
  // Every access by cell, then time, then satellite.
  std::vector<std::size_t> offset(n + 1, 0);
  for (const CoverageAccesses& p : parts) {
    if (p.satellite >= nsat) bad("A PART NAMES NO SATELLITE OF THE PLAN");
    if (p.cell.size() != p.t.size()) bad("A PART'S COLUMNS DIFFER IN LENGTH");
    for (const std::uint32_t c : p.cell) {
      if (c < p.first || c >= p.last) bad("A PART HOLDS A CELL OUTSIDE ITS RANGE");
      ++offset[c + 1];
    }
    r.found += p.found;
    r.kept += p.cell.size();
    r.by_sun += p.by_sun;
    r.by_alpha += p.by_alpha;
    r.by_pass += p.by_pass;
  }
  for (std::size_t c = 0; c < n; ++c) offset[c + 1] += offset[c];
  std::vector<std::pair<double, std::uint32_t>> all(offset[n]);
  {
    std::vector<std::size_t> fill(offset.begin(), offset.end() - 1);
    for (const CoverageAccesses& p : parts)
      for (std::size_t i = 0; i < p.cell.size(); ++i)
        all[fill[p.cell[i]]++] = {p.t[i], static_cast<std::uint32_t>(p.satellite)};
  }
  r.cells.resize(n);
  std::vector<double> first_by(n * nsat, kNaN);
  std::vector<std::uint32_t> count_by(n * nsat, 0), first_sat(n, 0);
  for (std::size_t c = 0; c < n; ++c) {
    const auto b = all.begin() + static_cast<std::ptrdiff_t>(offset[c]);
    const auto e = all.begin() + static_cast<std::ptrdiff_t>(offset[c + 1]);
    std::sort(b, e);
    CoverageCellStats& st = r.cells[c];
    st.accesses = static_cast<std::uint32_t>(e - b);
    if (b == e) continue;
    st.first_s = b->first;
    st.last_s = (e - 1)->first;
    first_sat[c] = b->second;
    if (st.accesses >= 2) {
      st.mean_revisit_s = (st.last_s - st.first_s) / (st.accesses - 1);
      double gap = 0.0;
      for (auto it = b + 1; it != e; ++it) gap = std::max(gap, it->first - (it - 1)->first);
      st.max_revisit_s = gap;
    }
    for (auto it = b; it != e; ++it) {
      const std::size_t k = c * nsat + it->second;
      if (count_by[k]++ == 0) first_by[k] = it->first;
    }
  }
  r.areas.resize(grid.areas.size());
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const auto& cells = grid.areas[a].cells;
    auto& series = r.areas[a];
    series.resize(nsat + 1);
    for (std::size_t s = 0; s <= nsat; ++s) {
      CoverageSeries& out = series[s];
      out.satellite = s == 0 ? CoverageSeries::kAll : s - 1;
      for (const std::uint32_t c : cells) {
        const CoverageCellStats& st = r.cells[c];
        if (s == 0) {
          out.accesses += st.accesses;
          if (st.accesses > 0) {
            out.first_s.push_back(st.first_s);
            ++out.first_cells;
          }
          continue;
        }
        const std::size_t k = c * nsat + (s - 1);
        out.accesses += count_by[k];
        if (count_by[k] > 0) out.first_s.push_back(first_by[k]);
        if (st.accesses > 0 && first_sat[c] == s - 1) ++out.first_cells;
      }
      std::sort(out.first_s.begin(), out.first_s.end());
    }
  }
  return r;
}

CoverageResult run_coverage(const Plan& plan, const EarthOrientation& eop, const CoverageGrid& grid,
                            const std::function<void(double)>& progress) {
  std::vector<CoverageAccesses> parts;
  const std::size_t nsat = plan.satellites.size();
  for (std::size_t s = 0; s < nsat; ++s) {
    parts.push_back(coverage_accesses(plan, eop, grid, s, 0, grid.cells.size(), [&](double f) {
      if (progress) progress((static_cast<double>(s) + f) / static_cast<double>(nsat));
    }));
  }
  return coverage_statistics(plan, grid, parts);
}

// ---- files ----

namespace {

const std::string& series_name(const Plan& plan, const CoverageSeries& s) {
  static const std::string all = "all";
  return s.satellite == CoverageSeries::kAll ? all : plan.satellites.at(s.satellite).name;
}

// The columns of coverage_cells.csv after target_id, as texts (empty where there is none).
struct CellRow {
  std::string lon, lat, area, first, mean, max, start_gap, end_gap;
  std::uint64_t id = 0;
  std::uint32_t accesses = 0;
};
CellRow cell_row(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                 std::size_t c) {
  const CoverageCellStats& st = r.cells[c];
  CellRow row;
  row.id = grid.cells[c].id;
  row.lon = fixed(grid.cells[c].lon_deg, 6);
  row.lat = fixed(grid.cells[c].lat_deg, 6);
  row.area = fixed(grid.cell_area_km2, 3);
  row.accesses = st.accesses;
  if (st.accesses > 0) row.first = plan::utc_text(instant(plan, st.first_s));
  row.mean = hours(st.mean_revisit_s);
  row.max = hours(st.max_revisit_s);
  // The gaps before the first access and after the last: the whole interval when none.
  row.start_gap = hours(st.accesses > 0 ? st.first_s : r.span_s);
  row.end_gap = hours(st.accesses > 0 ? r.span_s - st.last_s : r.span_s);
  return row;
}

// Bytes that are not UTF-8 are written as U+FFFD: the file stays valid JSON.
std::string json_text(const std::string& s) {
  return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string json_or_null(const std::string& v, bool text = false) {
  if (v.empty()) return "null";
  return text ? "\"" + v + "\"" : v;
}

}  // namespace

void write_coverage_cells_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                              std::ostream& out) {
  out << "target_id,cell_id,lon,lat,area_km2,accesses,first_access_utc,mean_revisit_h,"
         "max_revisit_h,start_gap_h,end_gap_h\n";
  for (const CoverageGrid::Area& a : grid.areas) {
    const std::string id = csv_field(a.id);
    for (const std::uint32_t c : a.cells) {
      const CellRow row = cell_row(plan, grid, r, c);
      out << id << ',' << row.id << ',' << row.lon << ',' << row.lat << ',' << row.area << ','
          << row.accesses << ',' << row.first << ',' << row.mean << ',' << row.max << ','
          << row.start_gap << ',' << row.end_gap << '\n';
    }
  }
}

// Written as it goes: one feature a row of coverage_cells.csv, its cell as a polygon.
void write_coverage_cells_geojson(const Plan& plan, const CoverageGrid& grid,
                                  const CoverageResult& r, std::ostream& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  for (const CoverageGrid::Area& a : grid.areas) {
    const std::string id = json_text(a.id);
    for (const std::uint32_t c : a.cells) {
      const CellRow row = cell_row(plan, grid, r, c);
      const Box b = grid.bounds(c);
      const std::string x1 = fixed(b.lon1, 6), x2 = fixed(b.lon2, 6);
      const std::string y1 = fixed(b.lat1, 6), y2 = fixed(b.lat2, 6);
      out << (first ? "\n" : ",\n");
      first = false;
      out << "{\"type\":\"Feature\",\"properties\":{\"target_id\":" << id
          << ",\"cell_id\":" << row.id << ",\"lon\":" << row.lon << ",\"lat\":" << row.lat
          << ",\"area_km2\":" << row.area << ",\"accesses\":" << row.accesses
          << ",\"first_access_utc\":" << json_or_null(row.first, true)
          << ",\"mean_revisit_h\":" << json_or_null(row.mean)
          << ",\"max_revisit_h\":" << json_or_null(row.max)
          << ",\"start_gap_h\":" << json_or_null(row.start_gap)
          << ",\"end_gap_h\":" << json_or_null(row.end_gap)
          << "},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[[" << x1 << ',' << y1 << "],["
          << x2 << ',' << y1 << "],[" << x2 << ',' << y2 << "],[" << x1 << ',' << y2 << "],[" << x1
          << ',' << y1 << "]]]}}";
    }
  }
  out << "\n]}\n";
}

void write_coverage_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                        std::ostream& out) {
  out << "target_id,satellite,time_utc,covered_fraction,covered_km2,cells_covered\n";
  const double start = plan.interval.start.seconds;
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const std::size_t cells = grid.areas[a].cells.size();
    const std::string id = csv_field(grid.areas[a].id);
    for (const CoverageSeries& s : r.areas[a]) {
      const std::string name = csv_field(series_name(plan, s));
      // One row per UTC minute in which the fraction grew, at the last first access in it.
      for (std::size_t i = 0; i < s.first_s.size(); ++i) {
        const double t = s.first_s[i];
        if (i + 1 < s.first_s.size() &&
            std::floor((start + s.first_s[i + 1]) / 60.0) == std::floor((start + t) / 60.0))
          continue;
        out << id << ',' << name << ',' << plan::utc_text(instant(plan, t)) << ','
            << fixed(static_cast<double>(i + 1) / static_cast<double>(cells), 6) << ','
            << fixed(static_cast<double>(i + 1) * grid.cell_area_km2, 1) << ',' << i + 1 << '\n';
      }
    }
  }
}

void write_coverage_summary_csv(const Plan& plan, const CoverageGrid& grid, const CoverageResult& r,
                                std::ostream& out) {
  out << "target_id,target_name,satellite,cells,area_km2,accesses,covered_fraction,"
         "reached_50_utc,reached_90_utc,reached_99_utc,reached_100_utc,first_share\n";
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const CoverageGrid::Area& area = grid.areas[a];
    const std::size_t cells = area.cells.size();
    for (const CoverageSeries& s : r.areas[a]) {
      out << csv_field(area.id) << ',' << csv_field(area.name) << ','
          << csv_field(series_name(plan, s)) << ',' << cells << ','
          << fixed(static_cast<double>(cells) * grid.cell_area_km2, 1) << ',' << s.accesses << ',';
      if (cells > 0) {
        out << fixed(static_cast<double>(s.first_s.size()) / static_cast<double>(cells), 6);
      }
      for (const int p : {50, 90, 99, 100}) {
        const double t = coverage_reached_s(s, cells, p);
        out << ',' << (std::isfinite(t) ? plan::utc_text(instant(plan, t)) : std::string());
      }
      out << ',';
      if (cells > 0) {
        out << fixed(static_cast<double>(s.first_cells) / static_cast<double>(cells), 6);
      }
      out << '\n';
    }
  }
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

CoverageAccesses deserialize_coverage_accesses(const std::string& bytes) {
  const auto corrupt = [] {
    throw Error(ErrorKind::input,
                {" THE COVERAGE ACCESSES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
  };
  if (bytes.size() < sizeof kMagic + std::size_t{8} * 8 ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    corrupt();
  std::size_t at = sizeof kMagic;
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
  if (n > bytes.size() || bytes.size() - at != n * (sizeof(std::uint32_t) + sizeof(double)))
    corrupt();
  p.cell.resize(n);
  p.t.resize(n);
  std::memcpy(p.cell.data(), bytes.data() + at, n * sizeof(std::uint32_t));
  at += n * sizeof(std::uint32_t);
  std::memcpy(p.t.data(), bytes.data() + at, n * sizeof(double));
  return p;
}

}  // namespace orvus
