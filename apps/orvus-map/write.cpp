// The three map files: GeoJSON (RFC 7946), KML and a self-contained SVG map.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "legacy/fatal.hpp"
#include "map.hpp"
#include "orvus/constants.hpp"
#include "outputs/map_page.hpp"
#include "outputs/world_atlas.hpp"

namespace orvus::map {

namespace {

// GeoJSON texts: plain JSON escapes.
std::string json_string(const std::string& s) {
  return page::json_string(s, false);
}

std::string xml_text(const std::string& s) {
  std::string out;
  for (const char ch : page::utf8(s)) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t') out += ch;
    }
  }
  return out;
}

std::string num(double v, int decimals = 6) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::ofstream open_output(const std::filesystem::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw Fatal{" ORVUS-MAP: CANNOT CREATE \"" + file.string() + "\".", " EXECUTION INTERRUPTED."};
  }
  return out;
}

void finish(std::ofstream& out, const std::filesystem::path& file) {
  out.flush();
  if (!out) {
    throw Fatal{" ORVUS-MAP: CANNOT WRITE \"" + file.string() + "\".", " EXECUTION INTERRUPTED."};
  }
}

// What a contact's features say about it.
struct Facts {
  std::vector<std::pair<std::string, std::string>> props;  // name, JSON value
  std::vector<LonLat> swath, track, side1, side2;
};

Facts facts(const Contact& c) {
  Facts f;
  f.swath = swath_ring(c);
  for (const StepPoints& s : c.steps) {
    if (s.p[0]) f.track.push_back(*s.p[0]);
    if (s.p[1] && s.p[2]) {
      f.side1.push_back(*s.p[1]);
      f.side2.push_back(*s.p[2]);
    }
  }
  f.props.emplace_back("contact", std::to_string(c.number));
  if (c.closed) {
    f.props.emplace_back("start", json_string(c.start));
    f.props.emplace_back("end", json_string(c.end));
    f.props.emplace_back("best_time", json_string(c.best_time));
    f.props.emplace_back("duration_s", num(c.duration, 3));
    f.props.emplace_back("pass", json_string(std::string(1, c.pass)));
    f.props.emplace_back("best_alpha_deg", num(c.best_alpha, 4));
    f.props.emplace_back("distance_deg", num(c.distance, 6));
    f.props.emplace_back("sun_elevation_deg", num(c.sun_elevation_deg, 3));
  } else {
    f.props.emplace_back("start", json_string(c.steps.empty() ? "" : c.steps.front().time));
    f.props.emplace_back("last_step", json_string(c.steps.empty() ? "" : c.steps.back().time));
    f.props.emplace_back("open", "true");
  }
  f.props.emplace_back("box_coverage", num(c.coverage, 4));
  return f;
}

std::string json_position(const LonLat& p) {
  return "[" + num(p.lon_deg) + ", " + num(p.lat_deg) + "]";
}

std::string json_line(const std::vector<LonLat>& line) {
  std::string out = "[";
  for (std::size_t i = 0; i < line.size(); ++i) out += (i ? ", " : "") + json_position(line[i]);
  return out + "]";
}

std::string json_lines_geometry(const std::vector<LonLat>& line) {
  const auto parts = split_line(line);
  if (parts.size() == 1)
    return R"({"type": "LineString", "coordinates": )" + json_line(parts[0]) + "}";
  std::string out = R"({"type": "MultiLineString", "coordinates": [)";
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + json_line(parts[i]);
  return out + "]}";
}

std::string json_area_geometry(const std::vector<LonLat>& ring) {
  const auto parts = split_ring(ring);
  if (parts.size() == 1)
    return R"({"type": "Polygon", "coordinates": [)" + json_line(parts[0]) + "]}";
  std::string out = R"({"type": "MultiPolygon", "coordinates": [)";
  for (std::size_t i = 0; i < parts.size(); ++i)
    out += (i ? ", [" : "[") + json_line(parts[i]) + "]";
  return out + "]}";
}

std::string json_feature(const std::string& kind,
                         const std::vector<std::pair<std::string, std::string>>& props,
                         const std::string& geometry) {
  std::string out = R"(    {"type": "Feature", "properties": {"feature": )" + json_string(kind);
  for (const auto& [name, value] : props) out += ", " + json_string(name) + ": " + value;
  return out + "}, \"geometry\": " + geometry + "}";
}

// The box as written (a corner beyond +-180 crosses the antimeridian), counter-clockwise. A
// box wider than 90 deg gets points along its parallels, so that no edge spans half the
// globe and the ring can be cut at +-180 unambiguously.
std::vector<LonLat> box_ring(const RunParams& p) {
  const int n = static_cast<int>(std::ceil(std::fabs(p.LON2 - p.LON1) / 90.0));
  if (n <= 1) {
    return {
        {p.LON1, p.LAT1}, {p.LON2, p.LAT1}, {p.LON2, p.LAT2}, {p.LON1, p.LAT2}, {p.LON1, p.LAT1}};
  }
  std::vector<LonLat> ring;
  for (int i = 0; i <= n; ++i) ring.push_back({p.LON1 + (p.LON2 - p.LON1) * i / n, p.LAT1});
  for (int i = 0; i <= n; ++i) ring.push_back({p.LON2 - (p.LON2 - p.LON1) * i / n, p.LAT2});
  ring.push_back(ring.front());
  return ring;
}

}  // namespace

void write_geojson(const Run& run, const std::filesystem::path& file) {
  const RunParams& p = run.params;
  std::vector<std::string> features;
  features.push_back(json_feature("target box",
                                  {{"satellite", json_string(trimmed(p.SAT_NAME))},
                                   {"location", json_string(trimmed(p.LOC_NAME))},
                                   {"interval_start", json_string(p.START_LOCAL.substr(0, 23))},
                                   {"interval_end", json_string(p.END_LOCAL.substr(0, 23))},
                                   {"alpha_deg", num(p.ALPHA, 4)},
                                   {"beta_deg", num(p.BETA, 4)}},
                                  json_area_geometry(box_ring(p))));
  for (const Contact& c : run.contacts) {
    const Facts f = facts(c);
    if (f.side1.size() >= 2) {
      features.push_back(json_feature("swath", f.props, json_area_geometry(f.swath)));
    } else if (!f.swath.empty()) {  // one step: the line seen across the track
      features.push_back(json_feature("swath", f.props, json_lines_geometry(f.swath)));
    }
    if (f.track.size() >= 2) {
      features.push_back(json_feature("track", f.props, json_lines_geometry(f.track)));
    }
    if (c.best_point) {
      features.push_back(json_feature(
          "best point", f.props,
          R"({"type": "Point", "coordinates": )" + json_position(*c.best_point) + "}"));
    }
  }
  std::ofstream out = open_output(file);
  out << "{\n  \"type\": \"FeatureCollection\",\n  \"features\": [\n";
  for (std::size_t i = 0; i < features.size(); ++i)
    out << features[i] << (i + 1 < features.size() ? ",\n" : "\n");
  out << "  ]\n}\n";
  finish(out, file);
}

namespace {

std::string kml_coordinates(const std::vector<LonLat>& line) {
  std::string out;
  for (const LonLat& p : line) out += num(p.lon_deg) + "," + num(p.lat_deg) + ",0 ";
  return out;
}

std::string kml_polygons(const std::vector<LonLat>& ring) {
  std::string out = "<MultiGeometry>";
  for (const auto& part : split_ring(ring)) {
    out += "<Polygon><tessellate>1</tessellate><outerBoundaryIs><LinearRing><coordinates>" +
           kml_coordinates(part) + "</coordinates></LinearRing></outerBoundaryIs></Polygon>";
  }
  return out + "</MultiGeometry>";
}

std::string kml_lines(const std::vector<LonLat>& line) {
  std::string out = "<MultiGeometry>";
  for (const auto& part : split_line(line)) {
    out += "<LineString><tessellate>1</tessellate><coordinates>" + kml_coordinates(part) +
           "</coordinates></LineString>";
  }
  return out + "</MultiGeometry>";
}

std::string kml_data(const Facts& f) {
  std::string out = "<ExtendedData>";
  for (const auto& [name, value] : f.props) {
    std::string v = value;
    if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
    out += "<Data name=\"" + name + "\"><value>" + xml_text(v) + "</value></Data>";
  }
  return out + "</ExtendedData>";
}

}  // namespace

void write_kml(const Run& run, const std::filesystem::path& file) {
  const RunParams& p = run.params;
  std::ofstream out = open_output(file);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n"
      << "<name>" << xml_text(trimmed(p.SAT_NAME) + " over " + trimmed(p.LOC_NAME)) << "</name>\n"
      << "<Style id=\"box\"><LineStyle><color>ff2827d6</color><width>2</width></LineStyle>"
         "<PolyStyle><color>262827d6</color></PolyStyle></Style>\n"
      << "<Style id=\"A\"><LineStyle><color>ffb4771f</color></LineStyle>"
         "<PolyStyle><color>73b4771f</color></PolyStyle></Style>\n"
      << "<Style id=\"D\"><LineStyle><color>ff0e7fff</color></LineStyle>"
         "<PolyStyle><color>730e7fff</color></PolyStyle></Style>\n"
      << "<Placemark><name>Target box</name><styleUrl>#box</styleUrl>" << kml_polygons(box_ring(p))
      << "</Placemark>\n";
  for (const Contact& c : run.contacts) {
    const Facts f = facts(c);
    const std::string style = c.pass == 'A' ? "#A" : "#D";
    out << "<Folder><name>Contact " << c.number << "</name>\n";
    if (!f.swath.empty()) {
      out << "<Placemark><name>Swath " << c.number << "</name><styleUrl>" << style << "</styleUrl>"
          << kml_data(f) << (f.side1.size() >= 2 ? kml_polygons(f.swath) : kml_lines(f.swath))
          << "</Placemark>\n";
    }
    if (f.track.size() >= 2) {
      out << "<Placemark><name>Track " << c.number << "</name><styleUrl>" << style << "</styleUrl>"
          << kml_lines(f.track) << "</Placemark>\n";
    }
    if (c.best_point) {
      out << "<Placemark><name>Best point " << c.number << "</name>" << kml_data(f)
          << "<Point><coordinates>" << kml_coordinates({*c.best_point}) << "</coordinates></Point>"
          << "</Placemark>\n";
    }
    out << "</Folder>\n";
  }
  out << "</Document>\n</kml>\n";
  finish(out, file);
}

namespace {

double nice_step(double range) {
  for (const double s :
       {0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 2.5, 5.0, 10.0, 15.0, 30.0}) {
    if (range / s <= 8.0) return s;
  }
  return 45.0;
}

std::string degrees_label(double v, bool lon) {
  const char hemi = lon ? (v < 0 ? 'W' : (v > 0 ? 'E' : ' ')) : (v < 0 ? 'S' : (v > 0 ? 'N' : ' '));
  char buf[32];
  const double a = std::fabs(v);
  if (lon && std::fabs(a - 180.0) < 1e-9) return "180\xC2\xB0";  // the antimeridian has no side
  if (std::fabs(a - std::round(a)) < 1e-9)
    std::snprintf(buf, sizeof buf, "%.0f", a);
  else
    std::snprintf(buf, sizeof buf, "%g", std::round(a * 100) / 100);
  std::string s = std::string(buf) + "\xC2\xB0";
  if (hemi != ' ') s += hemi;
  return s;
}

// Land and country borders of Natural Earth inside the window [lon_min, lon_max] x [lat_min,
// lat_max] (degrees; the window may reach beyond +-180), as SVG paths; `x` and `y` place a
// point on the map.
template <class X, class Y>
std::string land_and_borders(double lon_min, double lon_max, double lat_min, double lat_max,
                             const X& x, const Y& y) {
  const page::WorldOutlines& world = page::world_outlines();
  const auto path = [&](const page::Line& line, bool close) {
    std::string d;
    for (std::size_t i = 0; i < line.size(); ++i) {
      d += i ? " L" : "M";
      d += num(x(line[i].lon_deg), 1);
      d += ',';
      d += num(y(line[i].lat_deg), 1);
    }
    if (close) d += " Z";
    return d;
  };
  // Each line as it is and a turn east and west, where that meets the window.
  const auto shifted = [&](const page::Line& line, double shift) {
    page::Line out = line;
    for (page::Point& p : out) p.lon_deg += shift;
    return out;
  };
  const auto meets = [&](const page::Line& line, double shift) {
    double w = 1e9, e = -1e9, s = 1e9, n = -1e9;
    for (const page::Point& p : line) {
      w = std::min(w, p.lon_deg + shift);
      e = std::max(e, p.lon_deg + shift);
      s = std::min(s, p.lat_deg);
      n = std::max(n, p.lat_deg);
    }
    return w <= lon_max && e >= lon_min && s <= lat_max && n >= lat_min;
  };
  std::string land, borders;
  for (const double shift : {-360.0, 0.0, 360.0}) {
    for (const page::Line& ring : world.land) {
      if (!meets(ring, shift)) continue;
      const page::Line part =
          page::clip_ring(shifted(ring, shift), lon_min, lon_max, lat_min, lat_max);
      if (!part.empty()) land += path(part, true) + " ";
    }
    for (const page::Line& line : world.borders) {
      if (!meets(line, shift)) continue;
      for (const page::Line& part :
           page::clip_line(shifted(line, shift), lon_min, lon_max, lat_min, lat_max))
        borders += path(part, false) + " ";
    }
  }
  std::string out;
  if (!land.empty()) out += "<path class=\"land\" d=\"" + land + "\" fill=\"#ecebe3\"/>\n";
  if (!borders.empty()) {
    out += "<path class=\"borders\" d=\"" + borders +
           "\" fill=\"none\" stroke=\"#8a8a80\" stroke-width=\"0.8\"/>\n";
  }
  return out;
}

}  // namespace

void write_svg(const Run& run, const std::filesystem::path& file) {
  const RunParams& p = run.params;
  // The area around the box, drawn in plate carree scaled by the cosine of its latitude.
  const double box_w = std::fabs(p.LON2 - p.LON1), box_h = std::fabs(p.LAT2 - p.LAT1);
  const double margin = std::max(1.0, 0.6 * std::max(box_w, box_h));
  const double lon_c = (p.LON1 + p.LON2) / 2.0;
  const double lon_min = std::min(p.LON1, p.LON2) - margin,
               lon_max = std::max(p.LON1, p.LON2) + margin;
  const double lat_min = std::max(-90.0, std::min(p.LAT1, p.LAT2) - margin);
  const double lat_max = std::min(90.0, std::max(p.LAT1, p.LAT2) + margin);
  const double cos_c = std::max(0.05, std::cos((lat_min + lat_max) / 2.0 * constants::deg_to_rad));
  const double scale = std::min(760.0 / ((lon_max - lon_min) * cos_c), 620.0 / (lat_max - lat_min));
  const double x0 = 80.0, y0 = 60.0;
  const double width = (lon_max - lon_min) * cos_c * scale, height = (lat_max - lat_min) * scale;
  const double svg_w = std::max(x0 + width + 40.0, 900.0), svg_h = y0 + height + 170.0;
  const auto px = [&](double lon) {
    return x0 + (lon_c + std::remainder(lon - lon_c, 360.0) - lon_min) * cos_c * scale;
  };
  const auto py = [&](double lat) { return y0 + (lat_max - lat) * scale; };
  const auto path = [&](const std::vector<LonLat>& pts, bool close) {
    std::string d;
    for (std::size_t i = 0; i < pts.size(); ++i)
      d += (i ? " L" : "M") + num(px(pts[i].lon_deg), 2) + "," + num(py(pts[i].lat_deg), 2);
    return close ? d + " Z" : d;
  };
  const char* colour_a = "#1f77b4";
  const char* colour_d = "#ff7f0e";

  std::ostringstream s;
  s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(svg_w, 0) << "\" height=\""
    << num(svg_h, 0) << "\" viewBox=\"0 0 " << num(svg_w, 0) << " " << num(svg_h, 0)
    << "\" font-family=\"sans-serif\""
    // How to find a place on the map: x = x0 + (lon - lon_min) cos_lat scale, y = y0 + (lat_max -
    // lat) scale.
    << " data-x0=\"" << num(x0, 3) << "\" data-y0=\"" << num(y0, 3) << "\" data-lon-min=\""
    << num(lon_min, 9) << "\" data-lon-max=\"" << num(lon_max, 9) << "\" data-lat-min=\""
    << num(lat_min, 9) << "\" data-lat-max=\"" << num(lat_max, 9) << "\" data-cos-lat=\""
    << num(cos_c, 12) << "\" data-scale=\"" << num(scale, 9) << "\">\n"
    << "<title>" << xml_text(trimmed(p.SAT_NAME) + " over " + trimmed(p.LOC_NAME)) << "</title>\n"
    << "<rect x=\"0\" y=\"0\" width=\"" << num(svg_w, 0) << "\" height=\"" << num(svg_h, 0)
    << "\" fill=\"#ffffff\"/>\n"
    << "<defs><clipPath id=\"plot\"><rect x=\"" << num(x0, 2) << "\" y=\"" << num(y0, 2)
    << "\" width=\"" << num(width, 2) << "\" height=\"" << num(height, 2)
    << "\"/></clipPath></defs>\n"
    << "<rect x=\"" << num(x0, 2) << "\" y=\"" << num(y0, 2) << "\" width=\"" << num(width, 2)
    << "\" height=\"" << num(height, 2) << "\" fill=\"#dce9f3\" stroke=\"#555555\"/>\n";

  // Land and borders, their longitudes as they are (the window may reach beyond +-180, and so
  // may the copies of the outlines a turn east or west); then the graticule over them.
  s << "<g clip-path=\"url(#plot)\">\n"
    << land_and_borders(
           lon_min, lon_max, lat_min, lat_max,
           [&](double lon) { return x0 + (lon - lon_min) * cos_c * scale; }, py)
    << "</g>\n";

  // Graticule with labelled degrees.
  const double lon_step = nice_step(lon_max - lon_min), lat_step = nice_step(lat_max - lat_min);
  s << "<g stroke=\"#c8ced6\" stroke-width=\"0.8\" font-size=\"12\" fill=\"#444444\">\n";
  for (double lon = std::ceil(lon_min / lon_step) * lon_step; lon <= lon_max + 1e-9;
       lon += lon_step) {
    const double x = x0 + (lon - lon_min) * cos_c * scale;
    s << "<line x1=\"" << num(x, 2) << "\" y1=\"" << num(y0, 2) << "\" x2=\"" << num(x, 2)
      << "\" y2=\"" << num(y0 + height, 2)
      << "\"/><text stroke=\"none\" text-anchor=\"middle\" x=\"" << num(x, 2) << "\" y=\""
      << num(y0 + height + 16, 2) << "\">"
      << xml_text(degrees_label(std::remainder(lon, 360.0), true)) << "</text>\n";
  }
  for (double lat = std::ceil(lat_min / lat_step) * lat_step; lat <= lat_max + 1e-9;
       lat += lat_step) {
    const double y = py(lat);
    s << "<line x1=\"" << num(x0, 2) << "\" y1=\"" << num(y, 2) << "\" x2=\"" << num(x0 + width, 2)
      << "\" y2=\"" << num(y, 2) << "\"/><text stroke=\"none\" text-anchor=\"end\" x=\""
      << num(x0 - 6, 2) << "\" y=\"" << num(y + 4, 2) << "\">"
      << xml_text(degrees_label(lat, false)) << "</text>\n";
  }
  s << "</g>\n<g clip-path=\"url(#plot)\">\n";

  // Swaths, tracks and best points, then the box on top.
  std::ostringstream labels;
  for (const Contact& c : run.contacts) {
    const char* colour = c.pass == 'A' ? colour_a : colour_d;
    const std::vector<LonLat> ring = swath_ring(c);
    std::vector<LonLat> track;
    for (const StepPoints& st : c.steps) {
      if (st.p[0]) track.push_back(*st.p[0]);
    }
    if (ring.size() >= 2) {
      s << "<path d=\"" << path(ring, true) << "\" fill=\"" << colour
        << "\" fill-opacity=\"0.45\" stroke=\"" << colour << "\" stroke-width=\"1.5\"/>\n";
    }
    if (track.size() >= 2) {
      s << "<path d=\"" << path(track, false)
        << "\" fill=\"none\" stroke=\"#333333\" stroke-width=\"1\" "
        << "stroke-dasharray=\"4 3\"/>\n";
    }
    if (c.best_point) {
      s << "<circle cx=\"" << num(px(c.best_point->lon_deg), 2) << "\" cy=\""
        << num(py(c.best_point->lat_deg), 2) << "\" r=\"3.5\" fill=\"#000000\"/>\n";
    }
    // The contact's number on its swath, at the place across the track nearest the box
    // centre, kept inside the map.
    double best_d = 1e300, lx = 0.0, ly = 0.0;
    for (const StepPoints& st : c.steps) {
      if (!st.p[1] || !st.p[2]) continue;
      for (const double f : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double x = px(st.p[1]->lon_deg) + f * (px(st.p[2]->lon_deg) - px(st.p[1]->lon_deg));
        const double y = py(st.p[1]->lat_deg) + f * (py(st.p[2]->lat_deg) - py(st.p[1]->lat_deg));
        const double d = std::hypot(x - px(lon_c), y - py((p.LAT1 + p.LAT2) / 2.0));
        if (d < best_d) {
          best_d = d;
          lx = x;
          ly = y;
        }
      }
    }
    if (best_d < 1e300) {
      lx = std::clamp(lx, x0 + 4, x0 + width - 16);
      ly = std::clamp(ly, y0 + 16, y0 + height - 4);
      labels << "<text x=\"" << num(lx, 2) << "\" y=\"" << num(ly, 2) << "\" font-size=\"15\" "
             << "font-weight=\"bold\" fill=\"#111111\">" << c.number << "</text>\n";
    }
  }
  s << "<path d=\"" << path(box_ring(p), true)
    << "\" fill=\"#d62728\" fill-opacity=\"0.15\" stroke=\"#d62728\" "
    << "stroke-width=\"2.5\"/>\n"
    << labels.str() << "</g>\n";

  // Legend.
  const double ly = y0 + height + 40;
  int n_a = 0, n_d = 0;
  for (const Contact& c : run.contacts) {
    if (c.pass == 'A') ++n_a;
    if (c.pass == 'D') ++n_d;
  }
  s << "<text x=\"" << num(x0, 2) << "\" y=\"30\" font-size=\"18\" font-weight=\"bold\">"
    << xml_text(trimmed(p.SAT_NAME) + " \xE2\x80\x94 " + trimmed(p.LOC_NAME)) << "</text>\n"
    << "<g font-size=\"13\" fill=\"#222222\">\n"
    << "<text x=\"" << num(x0, 2) << "\" y=\"" << num(ly, 2)
    << "\">Satellite: " << xml_text(trimmed(p.SAT_NAME))
    << "  \xC2\xB7  Location: " << xml_text(trimmed(p.LOC_NAME)) << "</text>\n"
    << "<text x=\"" << num(x0, 2) << "\" y=\"" << num(ly + 20, 2) << "\">Local time "
    << xml_text(p.START_LOCAL.substr(0, 23)) << " to " << xml_text(p.END_LOCAL.substr(0, 23))
    << " (UTC " << (p.UTC_DIFF >= 0 ? "+" : "") << xml_text(num(p.UTC_DIFF, 1))
    << " h)  \xC2\xB7  ALPHA " << num(p.ALPHA, 2) << "\xC2\xB0  \xC2\xB7  BETA " << num(p.BETA, 2)
    << "\xC2\xB0</text>\n"
    << "<rect x=\"" << num(x0, 2) << "\" y=\"" << num(ly + 36, 2)
    << "\" width=\"18\" height=\"12\" fill=\"" << colour_a << "\" fill-opacity=\"0.45\" stroke=\""
    << colour_a << "\"/><text x=\"" << num(x0 + 24, 2) << "\" y=\"" << num(ly + 47, 2)
    << "\">ascending pass (" << n_a << ")</text>\n"
    << "<rect x=\"" << num(x0 + 200, 2) << "\" y=\"" << num(ly + 36, 2)
    << "\" width=\"18\" height=\"12\" fill=\"" << colour_d << "\" fill-opacity=\"0.45\" stroke=\""
    << colour_d << "\"/><text x=\"" << num(x0 + 224, 2) << "\" y=\"" << num(ly + 47, 2)
    << "\">descending pass (" << n_d << ")</text>\n"
    << "<rect x=\"" << num(x0 + 410, 2) << "\" y=\"" << num(ly + 36, 2)
    << "\" width=\"18\" height=\"12\" fill=\"#d62728\" fill-opacity=\"0.15\" stroke=\"#d62728\" "
       "stroke-width=\"2\"/>"
    << "<text x=\"" << num(x0 + 434, 2) << "\" y=\"" << num(ly + 47, 2) << "\">target box</text>\n"
    << "<text x=\"" << num(x0, 2) << "\" y=\"" << num(ly + 70, 2)
    << "\">Swaths: points (1) to (2) of each contact; dashed: point (0); dot: point seen at BEST "
       "ALPHA.</text>\n"
    << "<text x=\"" << num(x0, 2) << "\" y=\"" << num(ly + 90, 2)
    << "\">Land and borders: Natural Earth 1:50m (public domain).</text>\n"
    << "</g>\n</svg>\n";
  std::ofstream out = open_output(file);
  out << s.str();
  finish(out, file);
}

std::vector<LonLat> swath_ring(const Contact& c) {
  std::vector<LonLat> ring;
  for (const StepPoints& s : c.steps) {
    if (s.p[1] && s.p[2]) ring.push_back(*s.p[1]);
  }
  for (auto it = c.steps.rbegin(); it != c.steps.rend(); ++it) {
    if (it->p[1] && it->p[2]) ring.push_back(*it->p[2]);
  }
  if (ring.size() > 2) ring.push_back(ring.front());
  return ring;
}

}  // namespace orvus::map
