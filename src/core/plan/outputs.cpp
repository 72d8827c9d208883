// The plan's results: the constraints, opportunities.csv, passes.csv and opportunities.geojson
// (their rows in tables.cpp), and the exact byte form of opportunities for results computed
// elsewhere.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>

#include "core/plan/plan_internal.hpp"
#include "orvus/analysis.hpp"

namespace orvus {

namespace {

std::string fixed(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  if (std::strcmp(buf, "-0") == 0 ||
      (buf[0] == '-' && std::strspn(buf + 1, "0.") == std::strlen(buf + 1)))
    return std::string(buf + 1);
  return buf;
}

bool before(const UtcInstant& a, const UtcInstant& b) {
  const double d = since_epoch(b, a);
  return d < 0.0;
}

}  // namespace

double plan::written_seconds(const UtcInstant& a, const UtcInstant& b) {
  return static_cast<double>(iso_time_ms(b) - iso_time_ms(a)) / 1000.0;
}

std::string plan::utc_text(const UtcInstant& t) {
  return iso_time(t, std::nullopt);
}

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::vector<Opportunity> select_opportunities(const Plan& plan, std::vector<Opportunity> all,
                                              PlanCounts* counts) {
  PlanCounts c;
  c.found = all.size();
  std::vector<Opportunity> kept;
  const PlanConstraints& k = plan.constraints;
  for (auto& o : all) {
    if (k.min_sun_elevation_deg && !(o.sun_elevation_deg >= *k.min_sun_elevation_deg)) {
      ++c.by_sun;
    } else if (k.max_abs_best_alpha_deg &&
               !(std::fabs(o.contact.best_alpha_deg) <= *k.max_abs_best_alpha_deg)) {
      ++c.by_alpha;
    } else if (k.pass != 0 && o.contact.pass != k.pass) {
      ++c.by_pass;
    } else if (!(o.contact.duration_s >= k.min_duration_s)) {
      ++c.by_duration;
    } else {
      kept.push_back(std::move(o));
    }
  }
  std::stable_sort(kept.begin(), kept.end(), [&](const Opportunity& a, const Opportunity& b) {
    if (before(a.contact.start_utc, b.contact.start_utc)) return true;
    if (before(b.contact.start_utc, a.contact.start_utc)) return false;
    if (a.satellite != b.satellite) return a.satellite < b.satellite;
    const std::string& ia = plan.targets.at(a.target).id;
    const std::string& ib = plan.targets.at(b.target).id;
    if (ia != ib) return ia < ib;
    return a.contact.number < b.contact.number;
  });
  c.kept = kept.size();
  if (counts != nullptr) *counts = c;
  return kept;
}

namespace {

// Shortest text that reads back as the same double; JSON null for a non-finite value.
std::string num(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Bytes that are not UTF-8 are written as U+FFFD: the file stays valid JSON.
std::string json_text(const std::string& s) {
  return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Positions of a line or a point set, "[lon,lat],...".
void put_positions(std::ostream& out, const Ring& positions) {
  for (std::size_t i = 0; i < positions.size(); ++i)
    out << (i ? "," : "") << '[' << num(positions[i].lon_deg) << ',' << num(positions[i].lat_deg)
        << ']';
}

void put_rings(std::ostream& out, const std::vector<std::vector<Ring>>& polys) {
  out << "{\"type\":\"MultiPolygon\",\"coordinates\":[";
  for (std::size_t p = 0; p < polys.size(); ++p) {
    out << (p ? "," : "") << '[';
    for (std::size_t r = 0; r < polys[p].size(); ++r) {
      out << (r ? "," : "") << '[';
      const Ring& ring = polys[p][r];
      for (std::size_t i = 0; i < ring.size(); ++i)
        out << (i ? "," : "") << '[' << num(ring[i].lon_deg) << ',' << num(ring[i].lat_deg) << ']';
      out << ']';
    }
    out << ']';
  }
  out << "]}";
}

}  // namespace

void write_opportunities_csv(const Plan& plan, const std::vector<Opportunity>& kept,
                             std::ostream& out) {
  write_table_csv(
      PlanTable::opportunities, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { opportunity_rows(plan, kept, sink); }, out);
}

void write_passes_csv(const Plan& plan, const std::vector<PlanPass>& passes, std::ostream& out) {
  write_table_csv(
      PlanTable::passes, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { pass_rows(plan, passes, sink); }, out);
}

// Written as it goes (a deck of thousands of targets and their swaths would not fit a
// document in memory): the targets, then one feature per opportunity.
void write_opportunities_geojson(const Plan& plan, const std::vector<Opportunity>& kept,
                                 std::ostream& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  for (const Target& t : plan.targets) {
    out << (first ? "\n" : ",\n");
    first = false;
    out << "{\"type\":\"Feature\",\"properties\":{\"kind\":\"target\",\"id\":" << json_text(t.id)
        << ",\"name\":" << json_text(t.name) << "},\"geometry\":";
    if (!t.points.empty()) {
      out << "{\"type\":\"MultiPoint\",\"coordinates\":[";
      put_positions(out, t.points);
      out << "]}}";
      continue;
    }
    if (!t.lines.empty()) {
      out << "{\"type\":\"MultiLineString\",\"coordinates\":[";
      for (std::size_t i = 0; i < t.lines.size(); ++i) {
        out << (i ? ",[" : "[");
        put_positions(out, t.lines[i]);
        out << ']';
      }
      out << "]}}";
      continue;
    }
    std::vector<std::vector<Ring>> polys;
    if (t.box) {
      const Box& b = *t.box;
      Ring r;
      // Edges along parallels and meridians, a point a degree at most.
      const int nl = std::max(1, static_cast<int>(std::ceil(std::fabs(b.lon2 - b.lon1))));
      const int nb = std::max(1, static_cast<int>(std::ceil(std::fabs(b.lat2 - b.lat1))));
      for (int i = 0; i < nl; ++i) r.push_back({b.lon1 + (b.lon2 - b.lon1) * i / nl, b.lat1});
      for (int i = 0; i < nb; ++i) r.push_back({b.lon2, b.lat1 + (b.lat2 - b.lat1) * i / nb});
      for (int i = 0; i < nl; ++i) r.push_back({b.lon2 - (b.lon2 - b.lon1) * i / nl, b.lat2});
      for (int i = 0; i < nb; ++i) r.push_back({b.lon1, b.lat2 - (b.lat2 - b.lat1) * i / nb});
      r.push_back(r.front());
      for (const Ring& part : split_ring(r)) polys.push_back({part});
    } else {
      for (const Polygon& p : t.polygons) polys.push_back(p);
    }
    put_rings(out, polys);
    out << '}';
  }
  plan::JsonProperties properties(PlanTable::opportunities, plan.interval.utc_offset_hours, false);
  for (const Opportunity& o : kept) {
    plan::opportunity_row(plan, o, properties);
    out << (first ? "\n" : ",\n");
    first = false;
    out << "{\"type\":\"Feature\",\"properties\":{\"kind\":\"opportunity\"" << properties.take()
        << "},\"geometry\":";
    std::vector<std::vector<Ring>> polys;
    for (const Ring& r : o.swath) polys.push_back({r});
    put_rings(out, polys);
    out << '}';
  }
  out << "\n]}\n";
}

std::string plan::iso_text(const UtcInstant& t, const std::optional<double>& offset_hours) {
  return iso_time(t, offset_hours);
}
std::string plan::fixed_text(double v, int digits) {
  return fixed(v, digits);
}
std::string plan::json_number(double v) {
  return num(v);
}
std::string plan::json_quoted(const std::string& s) {
  return json_text(s);
}
void plan::put_multipolygon(std::ostream& out, const std::vector<std::vector<Ring>>& polys) {
  put_rings(out, polys);
}

// ---- bytes ----

namespace {
constexpr char kMagic[8] = {'O', 'R', 'V', 'P', 'O', 'P', '0', '1'};

struct Writer {
  std::string b;
  template <class T>
  void put(const T& v) {
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void instant(const UtcInstant& t) {
    put(t.day);
    put(t.seconds);
  }
  void point(const GroundPoint& g) {
    put(g.lon_deg);
    put(g.lat_deg);
  }
};

struct Reader {
  const std::string& b;
  std::size_t at = 0;
  template <class T>
  T get() {
    if (at + sizeof(T) > b.size()) {
      throw Error(ErrorKind::input,
                  {" THE OPPORTUNITIES' BYTES ARE CUT SHORT.", " EXECUTION INTERRUPTED."});
    }
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    at += sizeof v;
    return v;
  }
  UtcInstant instant() {
    UtcInstant t;
    t.day = get<double>();
    t.seconds = get<double>();
    return t;
  }
  GroundPoint point() {
    GroundPoint g;
    g.lon_deg = get<double>();
    g.lat_deg = get<double>();
    return g;
  }
};
}  // namespace

std::string serialize_opportunities(const std::vector<Opportunity>& list) {
  Writer w;
  w.b.append(kMagic, sizeof kMagic);
  w.put(static_cast<std::uint64_t>(list.size()));
  for (const Opportunity& o : list) {
    w.put(static_cast<std::uint64_t>(o.satellite));
    w.put(static_cast<std::uint64_t>(o.target));
    const Contact& c = o.contact;
    w.put(static_cast<std::int32_t>(c.number));
    w.put(static_cast<std::uint8_t>(c.closed));
    w.put(c.pass);
    for (const UtcInstant& t :
         {c.start_utc, c.end_utc, c.start_local, c.end_local, c.best_utc, c.best_local})
      w.instant(t);
    w.put(c.duration_s);
    w.put(c.best_alpha_deg);
    w.point(c.best_geocentric);
    w.point(c.best_geodetic);
    w.put(c.distance_deg);
    w.put(o.sun_elevation_deg);
    w.put(o.coverage);
    w.put(o.element_age_days);
    w.put(static_cast<std::uint64_t>(o.swath.size()));
    for (const Ring& r : o.swath) {
      w.put(static_cast<std::uint64_t>(r.size()));
      for (const GroundPoint& g : r) w.point(g);
    }
  }
  return w.b;
}

std::vector<Opportunity> plan::read_opportunities(const std::string& bytes, std::size_t& at) {
  if (bytes.size() < at + sizeof kMagic ||
      std::memcmp(bytes.data() + at, kMagic, sizeof kMagic) != 0) {
    throw Error(ErrorKind::input,
                {" NOT A SERIALIZED LIST OF OPPORTUNITIES.", " EXECUTION INTERRUPTED."});
  }
  Reader r{bytes, at + sizeof kMagic};
  const auto n = r.get<std::uint64_t>();
  std::vector<Opportunity> out;
  for (std::uint64_t i = 0; i < n; ++i) {
    Opportunity o;
    o.satellite = r.get<std::uint64_t>();
    o.target = r.get<std::uint64_t>();
    Contact& c = o.contact;
    c.number = r.get<std::int32_t>();
    c.closed = r.get<std::uint8_t>() != 0;
    c.pass = r.get<char>();
    c.start_utc = r.instant();
    c.end_utc = r.instant();
    c.start_local = r.instant();
    c.end_local = r.instant();
    c.best_utc = r.instant();
    c.best_local = r.instant();
    c.duration_s = r.get<double>();
    c.best_alpha_deg = r.get<double>();
    c.best_geocentric = r.point();
    c.best_geodetic = r.point();
    c.distance_deg = r.get<double>();
    o.sun_elevation_deg = r.get<double>();
    o.coverage = r.get<double>();
    o.element_age_days = r.get<double>();
    const auto nr = r.get<std::uint64_t>();
    if (nr > bytes.size())
      throw Error(ErrorKind::input,
                  {" THE OPPORTUNITIES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
    for (std::uint64_t k = 0; k < nr; ++k) {
      const auto np = r.get<std::uint64_t>();
      if (np > bytes.size())
        throw Error(ErrorKind::input,
                    {" THE OPPORTUNITIES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
      Ring ring;
      for (std::uint64_t q = 0; q < np; ++q) ring.push_back(r.point());
      o.swath.push_back(std::move(ring));
    }
    out.push_back(std::move(o));
  }
  at = r.at;
  return out;
}

std::vector<Opportunity> deserialize_opportunities(const std::string& bytes) {
  std::size_t at = 0;
  std::vector<Opportunity> out = plan::read_opportunities(bytes, at);
  if (at != bytes.size())
    throw Error(ErrorKind::input,
                {" THE OPPORTUNITIES' BYTES HAVE TRAILING DATA.", " EXECUTION INTERRUPTED."});
  return out;
}

}  // namespace orvus
