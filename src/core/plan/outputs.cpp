// The plan's results: the constraints, the whole plan on this machine (satellites and
// ranges of targets on a pool of threads), opportunities.csv and opportunities.geojson, and
// the exact byte form of opportunities for results computed elsewhere.
#include <erfa.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "core/plan/plan_internal.hpp"
#include "core/time_text.hpp"
#include "orvus/analysis.hpp"

namespace orvus {

namespace {

// ISO 8601 to the millisecond: "2025-07-02T13:11:45.000Z" or "...-03:00".
std::string iso_time(const UtcInstant& t, const std::optional<double>& offset_hours) {
  long long ms = std::llround(t.seconds * 1000.0);
  double day = t.day;
  while (ms >= 86400000LL) {
    ms -= 86400000LL;
    day += 1.0;
  }
  while (ms < 0) {
    ms += 86400000LL;
    day -= 1.0;
  }
  int y = 0, mo = 0, d = 0;
  double fd = 0;
  (void)eraJd2cal(day + kMjd1950ToJd, 0.5, &y, &mo, &d, &fd);
  const long long s = ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02lld:%02lld:%02lld.%03lld", y, mo, d, s / 3600,
                (s / 60) % 60, s % 60, ms % 1000);
  std::string out = buf;
  if (!offset_hours) return out + "Z";
  const long minutes = std::lround(std::fabs(*offset_hours) * 60.0);
  std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", *offset_hours < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return out + buf;
}

std::string csv_text(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string fixed(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  if (std::strcmp(buf, "-0") == 0 || (buf[0] == '-' && std::strspn(buf + 1, "0.") == std::strlen(buf + 1)))
    return std::string(buf + 1);
  return buf;
}

bool before(const UtcInstant& a, const UtcInstant& b) {
  const double d = since_epoch(b, a);
  return d < 0.0;
}

}  // namespace

std::vector<Opportunity> select_opportunities(const Plan& plan, std::vector<Opportunity> all,
                                              PlanCounts* counts) {
  PlanCounts c;
  c.found = all.size();
  std::vector<Opportunity> kept;
  const PlanConstraints& k = plan.constraints;
  for (auto& o : all) {
    if (k.min_sun_elevation_deg && !(o.sun_elevation_deg >= *k.min_sun_elevation_deg)) {
      ++c.by_sun;
    } else if (k.max_abs_best_alpha_deg && !(std::fabs(o.contact.best_alpha_deg) <= *k.max_abs_best_alpha_deg)) {
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

std::vector<Opportunity> run_plan(const Plan& plan, const EarthOrientation& eop, PlanCounts* counts,
                                  const std::function<void(double)>& progress) {
  unsigned hw = std::thread::hardware_concurrency();
  const std::size_t threads = std::clamp<std::size_t>(hw == 0 ? 1 : hw, 1, 64);
  const std::size_t nsat = plan.satellites.size();
  const std::size_t nt = plan.targets.size();
  // Jobs: a satellite and a range of targets; enough of them to keep every thread busy.
  std::size_t chunks = std::max<std::size_t>(1, (threads * 2 + nsat - 1) / std::max<std::size_t>(nsat, 1));
  if (threads == 1) chunks = 1;
  chunks = std::min(chunks, std::max<std::size_t>(nt, 1));
  struct Job {
    std::size_t sat, first, last;
    std::vector<Opportunity> result;
    std::exception_ptr error;
    double done = 0;
  };
  std::vector<Job> jobs;
  for (std::size_t s = 0; s < nsat; ++s)
    for (std::size_t c = 0; c < chunks; ++c) jobs.push_back({s, nt * c / chunks, nt * (c + 1) / chunks, {}, nullptr, 0});
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  auto report = [&] {
    if (!progress) return;
    double sum = 0;
    for (const Job& j : jobs) sum += j.done;
    progress(sum / static_cast<double>(jobs.size()));
  };
  auto work = [&] {
    for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1)) {
      Job& j = jobs[i];
      try {
        j.result = plan_opportunities(plan, eop, j.sat, j.first, j.last, [&](double f) {
          std::lock_guard<std::mutex> lock(mutex);
          j.done = f;
          report();
        });
      } catch (...) {
        j.error = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < std::min(threads, jobs.size()); ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  std::vector<Opportunity> all;
  for (Job& j : jobs) {
    if (j.error) std::rethrow_exception(j.error);
    for (auto& o : j.result) all.push_back(std::move(o));
  }
  return select_opportunities(plan, std::move(all), counts);
}

namespace {

nlohmann::ordered_json properties(const Plan& plan, const Opportunity& o) {
  const PlanSatellite& s = plan.satellites.at(o.satellite);
  const Target& t = plan.targets.at(o.target);
  const double off = plan.interval.utc_offset_hours;
  nlohmann::ordered_json p;
  p["satellite"] = s.name;
  p["norad_id"] = s.elements.catalogue_number;
  p["target_id"] = t.id;
  p["target_name"] = t.name;
  p["contact"] = o.contact.number;
  p["start_utc"] = iso_time(o.contact.start_utc, std::nullopt);
  p["end_utc"] = iso_time(o.contact.end_utc, std::nullopt);
  p["start_local"] = iso_time(o.contact.start_local, off);
  p["end_local"] = iso_time(o.contact.end_local, off);
  p["duration_s"] = o.contact.duration_s;
  p["best_time_utc"] = iso_time(o.contact.best_utc, std::nullopt);
  p["best_time_local"] = iso_time(o.contact.best_local, off);
  p["best_alpha_deg"] = o.contact.best_alpha_deg;
  p["distance_deg"] = o.contact.distance_deg;
  p["pass"] = std::string(1, o.contact.pass);
  p["sun_elevation_deg"] = o.sun_elevation_deg;
  p["coverage"] = o.coverage;
  p["element_age_days"] = o.element_age_days;
  return p;
}

nlohmann::ordered_json ring_json(const Ring& r) {
  nlohmann::ordered_json a = nlohmann::ordered_json::array();
  for (const auto& g : r) a.push_back({g.lon_deg, g.lat_deg});
  return a;
}

}  // namespace

void write_opportunities_csv(const Plan& plan, const std::vector<Opportunity>& kept, std::ostream& out) {
  out << "satellite,norad_id,target_id,target_name,contact,start_utc,end_utc,start_local,end_local,"
         "duration_s,best_time_utc,best_time_local,best_alpha_deg,distance_deg,pass,"
         "sun_elevation_deg,coverage,element_age_days\n";
  const double off = plan.interval.utc_offset_hours;
  for (const Opportunity& o : kept) {
    const PlanSatellite& s = plan.satellites.at(o.satellite);
    const Target& t = plan.targets.at(o.target);
    out << csv_text(s.name) << ',' << s.elements.catalogue_number << ',' << csv_text(t.id) << ','
        << csv_text(t.name) << ',' << o.contact.number << ','
        << iso_time(o.contact.start_utc, std::nullopt) << ','
        << iso_time(o.contact.end_utc, std::nullopt) << ',' << iso_time(o.contact.start_local, off)
        << ',' << iso_time(o.contact.end_local, off) << ',' << fixed(o.contact.duration_s, 3) << ','
        << iso_time(o.contact.best_utc, std::nullopt) << ',' << iso_time(o.contact.best_local, off)
        << ',' << fixed(o.contact.best_alpha_deg, 4) << ',' << fixed(o.contact.distance_deg, 4)
        << ',' << o.contact.pass << ',' << fixed(o.sun_elevation_deg, 2) << ','
        << fixed(o.coverage, 4) << ',' << fixed(o.element_age_days, 3) << '\n';
  }
}

void write_opportunities_geojson(const Plan& plan, const std::vector<Opportunity>& kept,
                                 std::ostream& out) {
  nlohmann::ordered_json fc;
  fc["type"] = "FeatureCollection";
  nlohmann::ordered_json features = nlohmann::ordered_json::array();
  for (const Target& t : plan.targets) {
    nlohmann::ordered_json f;
    f["type"] = "Feature";
    f["properties"] = {{"kind", "target"}, {"id", t.id}, {"name", t.name}};
    nlohmann::ordered_json polys = nlohmann::ordered_json::array();
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
      for (const Ring& part : split_ring(r)) polys.push_back(nlohmann::ordered_json::array({ring_json(part)}));
    } else {
      for (const Polygon& p : t.polygons) {
        nlohmann::ordered_json rings = nlohmann::ordered_json::array();
        for (const Ring& r : p) rings.push_back(ring_json(r));
        polys.push_back(rings);
      }
    }
    f["geometry"] = {{"type", "MultiPolygon"}, {"coordinates", polys}};
    features.push_back(f);
  }
  for (const Opportunity& o : kept) {
    nlohmann::ordered_json f;
    f["type"] = "Feature";
    nlohmann::ordered_json p = {{"kind", "opportunity"}};
    const nlohmann::ordered_json props = properties(plan, o);
    for (auto it = props.begin(); it != props.end(); ++it) p[it.key()] = it.value();
    f["properties"] = p;
    nlohmann::ordered_json polys = nlohmann::ordered_json::array();
    for (const Ring& r : o.swath) polys.push_back(nlohmann::ordered_json::array({ring_json(r)}));
    f["geometry"] = {{"type", "MultiPolygon"}, {"coordinates", polys}};
    features.push_back(f);
  }
  fc["features"] = features;
  out << fc.dump(1) << '\n';
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
      throw Error(ErrorKind::input, {" THE OPPORTUNITIES' BYTES ARE CUT SHORT.", " EXECUTION INTERRUPTED."});
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
    for (const UtcInstant& t : {c.start_utc, c.end_utc, c.start_local, c.end_local, c.best_utc, c.best_local})
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

std::vector<Opportunity> deserialize_opportunities(const std::string& bytes) {
  if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    throw Error(ErrorKind::input, {" NOT A SERIALIZED LIST OF OPPORTUNITIES.", " EXECUTION INTERRUPTED."});
  }
  Reader r{bytes, sizeof kMagic};
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
    if (nr > bytes.size()) throw Error(ErrorKind::input, {" THE OPPORTUNITIES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
    for (std::uint64_t k = 0; k < nr; ++k) {
      const auto np = r.get<std::uint64_t>();
      if (np > bytes.size()) throw Error(ErrorKind::input, {" THE OPPORTUNITIES' BYTES ARE CORRUPT.", " EXECUTION INTERRUPTED."});
      Ring ring;
      for (std::uint64_t q = 0; q < np; ++q) ring.push_back(r.point());
      o.swath.push_back(std::move(ring));
    }
    out.push_back(std::move(o));
  }
  if (r.at != bytes.size()) throw Error(ErrorKind::input, {" THE OPPORTUNITIES' BYTES HAVE TRAILING DATA.", " EXECUTION INTERRUPTED."});
  return out;
}

}  // namespace orvus
