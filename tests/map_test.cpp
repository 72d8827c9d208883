// The companion map command: the Sun's elevation, the box coverage, cutting at +-180,
// and its three files read back (GeoJSON parsed, SVG rendered by a real renderer).
#include "map.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>

#include "core/time/time_text.hpp"
#include "legacy/routines.hpp"
#include "outputs/map_page.hpp"
#include "outputs/sha256.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using map::LonLat;
using test::data_path;
using test::read_file;
using test::read_lines;
using test::ScratchDir;

constexpr double kRad = M_PI / 180.0;

// --- The Sun ---

// The Astronomical Almanac's low-precision Sun (about 0.01 deg from 1950 to 2050): right
// ascension, declination and Greenwich mean sidereal time, degrees, at Julian Date jd.
void almanac_sun(double jd, double& ra, double& dec, double& gmst) {
  const double n = jd - 2451545.0;
  const double l = 280.460 + 0.9856474 * n;
  const double g = (357.528 + 0.9856003 * n) * kRad;
  const double lambda = (l + 1.915 * std::sin(g) + 0.020 * std::sin(2 * g)) * kRad;
  const double eps = (23.439 - 0.0000004 * n) * kRad;
  ra = std::atan2(std::cos(eps) * std::sin(lambda), std::cos(lambda)) / kRad;
  dec = std::asin(std::sin(eps) * std::sin(lambda)) / kRad;
  gmst = std::fmod(280.46061837 + 360.98564736629 * n, 360.0);
}

double almanac_elevation(double jd, double lon, double lat) {
  double ra = 0, dec = 0, gmst = 0;
  almanac_sun(jd, ra, dec, gmst);
  const double h = (gmst + lon - ra) * kRad;
  return std::asin(std::sin(lat * kRad) * std::sin(dec * kRad) +
                   std::cos(lat * kRad) * std::cos(dec * kRad) * std::cos(h)) /
         kRad;
}

TEST(MapSun, ElevationAgreesWithAnIndependentSun) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> day(18000, 36000), sec(0, 86400), lon(-180, 180),
      lat(-89, 89);
  double worst = 0;
  for (int i = 0; i < 2000; ++i) {
    const double d = std::floor(day(rng)), s = sec(rng), lo = lon(rng), la = lat(rng);
    const double jd = d + constants::mjd1950_to_jd + s / 86400.0;
    worst = std::max(
        worst, std::fabs(map::sun_elevation_deg(d, s, lo, la) - almanac_elevation(jd, lo, la)));
  }
  std::printf("Sun elevation against the almanac formula: largest difference %.4f deg\n", worst);
  EXPECT_LT(worst, 0.05);

  // At the subsolar point near 90 deg, at its antipode near -90 deg.
  for (const double d : {27000.0, 27100.0, 27200.0}) {
    const double s = 43210.0;
    double ra = 0, dec = 0, gmst = 0;
    almanac_sun(d + constants::mjd1950_to_jd + s / 86400.0, ra, dec, gmst);
    const double sub_lon = std::remainder(ra - gmst, 360.0);
    EXPECT_GT(map::sun_elevation_deg(d, s, sub_lon, dec), 89.9);
    EXPECT_LT(map::sun_elevation_deg(d, s, std::remainder(sub_lon + 180, 360.0), -dec), -89.9);
  }
  // The March equinox of 2024 (20 March, 03:06 UTC): the Sun stands over the equator, at
  // the longitude where it is noon.
  const double eq_day = 27107.0, eq_sec = 3 * 3600 + 6 * 60;  // 2024-03-20
  double ra = 0, dec = 0, gmst = 0;
  almanac_sun(eq_day + constants::mjd1950_to_jd + eq_sec / 86400.0, ra, dec, gmst);
  EXPECT_NEAR(dec, 0.0, 0.02);
  EXPECT_GT(map::sun_elevation_deg(eq_day, eq_sec, std::remainder(ra - gmst, 360.0), 0.0), 89.9);
}

// --- Box coverage ---

std::vector<LonLat> meridian(double lon, double lat_from, double lat_to, int n = 10) {
  std::vector<LonLat> out;
  for (int i = 0; i <= n; ++i) out.push_back({lon, lat_from + (lat_to - lat_from) * i / n});
  return out;
}

TEST(MapCoverage, NoneAllAndHalf) {
  // Box 0..1 deg in longitude and latitude; swaths bounded by two meridians.
  EXPECT_EQ(map::box_coverage(0, 1, 0, 1, meridian(2, -1, 2), meridian(3, -1, 2)), 0.0);
  EXPECT_NEAR(map::box_coverage(0, 1, 0, 1, meridian(-1, -1, 2), meridian(2, -1, 2)), 1.0, 1e-9);
  // Half the longitudes: half the area.
  EXPECT_NEAR(map::box_coverage(0, 1, 0, 1, meridian(-1, -1, 2), meridian(0.5, -1, 2)), 0.5, 1e-3);
  // Half the latitudes of a box at 60 N is not half its area: the equal-area projection
  // weighs the southern half by its larger cosine.
  std::vector<LonLat> south, north;
  for (int i = 0; i <= 10; ++i) {
    south.push_back({-1 + 0.3 * i, 59.0});
    north.push_back({-1 + 0.3 * i, 65.0});
  }
  const double expected =
      (std::sin(65 * kRad) - std::sin(60 * kRad)) / (std::sin(70 * kRad) - std::sin(60 * kRad));
  EXPECT_NEAR(map::box_coverage(0, 1, 60, 70, south, north), expected, 1e-3);
  // Swaths given either way round, or as a single step, or degenerate (BETA = 0).
  EXPECT_NEAR(map::box_coverage(0, 1, 0, 1, meridian(2, -1, 2), meridian(-1, -1, 2)), 1.0, 1e-9);
  EXPECT_EQ(map::box_coverage(0, 1, 0, 1, {{-1, 0.5}}, {{2, 0.5}}), 0.0);
  EXPECT_EQ(map::box_coverage(0, 1, 0, 1, meridian(0.5, -1, 2), meridian(0.5, -1, 2)), 0.0);
}

// --- Cutting at +-180 ---

TEST(MapAntimeridian, LinesAndRingsAreCut) {
  const auto lines = map::split_line({{178, 0}, {179.5, 1}, {-179.5, 2}, {-178, 3}});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].back().lon_deg, 180.0);
  EXPECT_EQ(lines[1].front().lon_deg, -180.0);
  EXPECT_NEAR(lines[0].back().lat_deg, 1.5, 1e-12);
  EXPECT_EQ(map::split_line({{10, 0}, {11, 1}}).size(), 1u);

  const std::vector<LonLat> ring = {{179, -1}, {-179, -1}, {-179, 1}, {179, 1}, {179, -1}};
  const auto parts = map::split_ring(ring);
  ASSERT_EQ(parts.size(), 2u);
  double area = 0;
  for (const auto& part : parts) {
    EXPECT_EQ(part.front().lon_deg, part.back().lon_deg);  // closed
    EXPECT_EQ(part.front().lat_deg, part.back().lat_deg);
    double twice = 0;  // shoelace: positive for counter-clockwise rings
    for (std::size_t i = 0; i + 1 < part.size(); ++i) {
      EXPECT_LE(std::fabs(part[i].lon_deg), 180.0);
      twice += part[i].lon_deg * part[i + 1].lat_deg - part[i + 1].lon_deg * part[i].lat_deg;
    }
    EXPECT_GT(twice, 0);
    area += twice / 2;
  }
  EXPECT_NEAR(area, 4.0, 1e-9);
  EXPECT_EQ(map::split_ring({{10, 0}, {11, 0}, {11, 1}, {10, 0}}).size(), 1u);
}

// --- The files, from real runs ---

// A minimal JSON reader for the checks.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  double number = 0;
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;
  const Json& operator[](const std::string& k) const { return object.at(k); }
  bool has(const std::string& k) const { return object.count(k) > 0; }
};

struct JsonReader {
  const std::string& s;
  std::size_t i = 0;
  void ws() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  }
  void expect(char c) {
    ws();
    if (i >= s.size() || s[i] != c) throw std::runtime_error("JSON: expected " + std::string(1, c));
    ++i;
  }
  Json value() {
    ws();
    Json v;
    if (i >= s.size()) throw std::runtime_error("JSON: end of text");
    const char c = s[i];
    if (c == '{') {
      v.kind = Json::kObject;
      ++i;
      ws();
      if (s[i] == '}') return ++i, v;
      for (;;) {
        ws();
        const std::string key = value().string;
        expect(':');
        v.object[key] = value();
        ws();
        if (s[i] == ',')
          ++i;
        else
          return expect('}'), v;
      }
    }
    if (c == '[') {
      v.kind = Json::kArray;
      ++i;
      ws();
      if (s[i] == ']') return ++i, v;
      for (;;) {
        v.array.push_back(value());
        ws();
        if (s[i] == ',')
          ++i;
        else
          return expect(']'), v;
      }
    }
    if (c == '"') {
      v.kind = Json::kString;
      for (++i; s.at(i) != '"'; ++i) {
        if (s[i] == '\\') ++i;
        v.string += s[i];
      }
      ++i;
      return v;
    }
    if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
      v.kind = Json::kBool;
      i += s[i] == 't' ? 4 : 5;
      return v;
    }
    std::size_t used = 0;
    v.kind = Json::kNumber;
    v.number = std::stod(s.substr(i, 40), &used);
    i += used;
    return v;
  }
};

Json parse_json(const std::string& text) {
  JsonReader r{text};
  Json v = r.value();
  r.ws();
  if (r.i != text.size()) throw std::runtime_error("JSON: text after the value");
  return v;
}

struct MapRun {
  ScratchDir dir;
  test::RunResult orvus, map;
};

test::RunResult run_map_in(const ScratchDir& dir) {
  return test::run_command(std::string("'") + ORVUS_MAP_BINARY + "' '" + dir.path.string() + "'");
}

void run_map(MapRun& r, const std::string& input, const std::string& tle) {
  std::filesystem::copy_file(data_path("tle/" + tle), r.dir.path / tle);
  std::filesystem::create_symlink(data_path("finals2000A.data"), r.dir.path / "finals2000A.data");
  r.dir.write(kInputFile, input);
  r.orvus = test::run_orvus(r.dir.path);
  r.map = run_map_in(r.dir);
}

// Checks every geometry of the collection; returns the number of swath features.
int check_geojson(const Json& g, double lon1, double lon2, double lat1, double lat2) {
  EXPECT_EQ(g["type"].string, "FeatureCollection");
  const auto& features = g["features"].array;
  EXPECT_GE(features.size(), 1u);
  const auto position = [](const Json& p) {
    EXPECT_EQ(p.array.size(), 2u);
    EXPECT_LE(std::fabs(p.array[0].number), 180.0);  // longitude first
    EXPECT_LE(std::fabs(p.array[1].number), 90.0);
  };
  const auto ring = [&](const Json& r) {
    ASSERT_GE(r.array.size(), 4u);
    EXPECT_EQ(r.array.front().array[0].number, r.array.back().array[0].number);  // closed
    EXPECT_EQ(r.array.front().array[1].number, r.array.back().array[1].number);
    for (const auto& p : r.array) position(p);
  };
  int swaths = 0;
  for (const auto& f : features) {
    EXPECT_EQ(f["type"].string, "Feature");
    const Json& geometry = f["geometry"];
    const std::string& type = geometry["type"].string;
    const Json& c = geometry["coordinates"];
    if (type == "Polygon") {
      for (const auto& r : c.array) ring(r);
    } else if (type == "MultiPolygon") {
      for (const auto& poly : c.array) {
        for (const auto& r : poly.array) ring(r);
      }
    } else if (type == "LineString") {
      EXPECT_GE(c.array.size(), 2u);
      for (const auto& p : c.array) position(p);
    } else if (type == "MultiLineString") {
      for (const auto& l : c.array) {
        for (const auto& p : l.array) position(p);
      }
    } else if (type == "Point") {
      position(c);
    } else {
      ADD_FAILURE() << "geometry type " << type;
    }
    const std::string& kind = f["properties"]["feature"].string;
    if (kind == "swath") {
      ++swaths;
      const Json& props = f["properties"];
      const double coverage = props["box_coverage"].number;
      EXPECT_TRUE(coverage >= 0.0 && coverage <= 1.0);
      if (!props.has("open")) {
        EXPECT_TRUE(props.has("sun_elevation_deg") && props.has("best_alpha_deg"));
        EXPECT_LE(std::fabs(props["sun_elevation_deg"].number), 90.0);
      }
    }
  }
  // The box first, with its corners in lon/lat order.
  const Json& box = features[0]["geometry"]["coordinates"].array[0];
  EXPECT_EQ(box.array[0].array[0].number, lon1);
  EXPECT_EQ(box.array[0].array[1].number, lat1);
  EXPECT_EQ(box.array[2].array[0].number, lon2);
  EXPECT_EQ(box.array[2].array[1].number, lat2);
  return swaths;
}

std::string input(const std::string& box, const std::string& angles, const std::string& start,
                  const std::string& end, const std::string& step, const std::string& tle) {
  return "LANDSAT 8\nTARGET \"X\" & <Y>\n0\n" + box + "\n" + tle + "\n" + angles + "\n" + start +
         "\n" + end + "\n" + step + "\n";
}

TEST(MapFiles, GeoJsonHasOneSwathPerContactAndValidGeometries) {
  // A large box over South America for two days, ending inside a contact; and a box at the
  // antimeridian (Fiji), where swaths cross +-180.
  struct Case {
    std::string box;
    double lon1, lon2, lat1, lat2;
    std::string end;
  };
  const Case cases[] = {
      {"-75, -30, -35, 5", -75, -30, -35, 5, "09/10/2024 01:21:00.000000000"},
      {"170, 180, -25, -10", 170, 180, -25, -10, "10/10/2024 00:00:00.000000000"}};
  for (const Case& c : cases) {
    MapRun r;
    run_map(
        r, input(c.box, "0, 50", "07/10/2024 00:00:00.000000000", c.end, "10", "landsat8_2024.tle"),
        "landsat8_2024.tle");
    ASSERT_EQ(r.orvus.status, 0) << r.orvus.output;
    ASSERT_EQ(r.map.status, 0) << r.map.output;
    const Json g = parse_json(read_file(r.dir.file(map::kGeoJsonFile)));
    const int swaths = check_geojson(g, c.lon1, c.lon2, c.lat1, c.lat2);
    // Contacts of OUT2 plus any contact still open at the end of the interval.
    const auto out1 = read_lines(r.dir.file(kOut1File));
    int headings = 0, best = 0;
    for (const auto& l : out1) {
      headings += l.rfind(" CONTACT NUMBER:", 0) == 0 ? 1 : 0;
      best += l.rfind(" BEST ALPHA:", 0) == 0 ? 1 : 0;
    }
    const int rows = static_cast<int>(read_lines(r.dir.file(kOut2File)).size()) - 1;
    EXPECT_GT(rows, 0);
    EXPECT_EQ(swaths, rows + (headings - best));
    // The KML holds one folder per contact.
    const std::string kml = read_file(r.dir.file(map::kKmlFile));
    std::size_t folders = 0;
    for (std::size_t at = kml.find("<Folder>"); at != std::string::npos;
         at = kml.find("<Folder>", at + 1))
      ++folders;
    EXPECT_EQ(folders, static_cast<std::size_t>(headings));
    EXPECT_NE(kml.find("TARGET &quot;X&quot; &amp; &lt;Y&gt;"), std::string::npos);
  }
}

// RGBA pixels of a PNG file.
struct Image {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> rgba;
  const unsigned char* at(double x, double y) const {
    const auto xi = static_cast<unsigned>(std::lround(x)),
               yi = static_cast<unsigned>(std::lround(y));
    return &rgba[(static_cast<std::size_t>(yi) * width + xi) * 4];
  }
};

Image read_png(const std::string& file) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  Image out;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return out;
  img.format = PNG_FORMAT_RGBA;
  out.rgba.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.rgba.data(), 0, nullptr)) return {};
  out.width = img.width;
  out.height = img.height;
  return out;
}

double attribute(const std::string& svg, const std::string& name) {
  const auto at = svg.find(name + "=\"");
  return at == std::string::npos ? std::nan("") : std::stod(svg.substr(at + name.size() + 2));
}

TEST(MapFiles, SvgRendersWithTheBoxAndSwathsWhereTheirCoordinatesSay) {
  for (const bool with_contacts : {false, true}) {
    MapRun r;
    run_map(r,
            // A descending pass on 27 July at 13:11 UTC, an ascending one on 28 July at 01:32.
            input("-48.3, -47.3, -16.1, -15.4", "0, 60", "27/07/2025 00:00:00.000000000",
                  with_contacts ? "29/07/2025 00:00:00.000000000" : "27/07/2025 10:00:00.000000000",
                  "1", "amazonia1_2025.tle"),
            "amazonia1_2025.tle");
    ASSERT_EQ(r.map.status, 0) << r.map.output;
    const std::string svg_file = r.dir.file(map::kSvgFile);
    const std::string png_file = r.dir.file("map.png");
    ASSERT_EQ(std::system(("rsvg-convert '" + svg_file + "' -o '" + png_file + "'").c_str()), 0);
    const Image img = read_png(png_file);
    ASSERT_GT(img.width, 100u);
    const std::string svg = read_file(svg_file);
    EXPECT_EQ(svg.find("http://", svg.find("<svg") + 60),
              std::string::npos);  // no network resources
    const double x0 = attribute(svg, "data-x0"), y0 = attribute(svg, "data-y0");
    const double lon_min = attribute(svg, "data-lon-min"), lat_max = attribute(svg, "data-lat-max");
    const double cos_lat = attribute(svg, "data-cos-lat"), scale = attribute(svg, "data-scale");
    const auto pixel = [&](double lon, double lat) {
      return img.at(x0 + (lon - lon_min) * cos_lat * scale, y0 + (lat_max - lat) * scale);
    };
    // Not blank.
    std::size_t coloured = 0;
    for (std::size_t i = 0; i < img.rgba.size(); i += 4) {
      if (img.rgba[i] < 200 || img.rgba[i + 1] < 200 || img.rgba[i + 2] < 200) ++coloured;
    }
    EXPECT_GT(coloured, 2000u);
    // The box: its red outline on its western edge, its tint inside.
    const unsigned char* edge = pixel(-48.3, -15.75);
    EXPECT_GT(edge[0], 150);
    EXPECT_LT(edge[1], 120);
    if (!with_contacts) {
      const unsigned char* inside = pixel(-47.8, -15.75);
      EXPECT_GT(inside[0], inside[2] + 10);  // red tint
      const unsigned char* outside = pixel(-47.8, -14.9);
      EXPECT_LT(std::abs(int(outside[0]) - int(outside[2])), 15);  // no tint
      EXPECT_NE(read_file(r.dir.file(map::kGeoJsonFile)).find("\"target box\""), std::string::npos);
      continue;
    }
    // The swaths: places between the two edges of their steps, on the map and away from the
    // box, are in the colour of their pass (a few may fall on a track line or a label).
    const double lon_max = attribute(svg, "data-lon-max"), lat_min = attribute(svg, "data-lat-min");
    map::Run run;
    map::read_run(r.dir.path, run);
    ASSERT_EQ(run.contacts.size(), 2u);
    for (const auto& c : run.contacts) {
      int checked = 0, right = 0;
      for (const auto& st : c.steps) {
        if (!st.p[1] || !st.p[2]) continue;
        for (double f = 0.02; f < 1.0; f += 0.02) {
          const double lon = st.p[1]->lon_deg + f * (st.p[2]->lon_deg - st.p[1]->lon_deg);
          const double lat = st.p[1]->lat_deg + f * (st.p[2]->lat_deg - st.p[1]->lat_deg);
          if (lon < lon_min + 0.05 || lon > lon_max - 0.05 || lat < lat_min + 0.05 ||
              lat > lat_max - 0.05 || (lon > -48.4 && lon < -47.2 && lat > -16.2 && lat < -15.3))
            continue;
          const unsigned char* px = pixel(lon, lat);
          const bool orange = px[0] > px[2] + 60, blue = px[2] > px[0] + 40;
          right += (c.pass == 'D' ? orange : blue) ? 1 : 0;
          ++checked;
        }
      }
      EXPECT_GT(checked, 10) << c.number;
      // Where the two swaths overlap the colours blend.
      EXPECT_GT(right, checked * 3 / 4) << c.number << ": " << right << " of " << checked;
    }
  }
}

// Natural Earth's land and sea on a coast: Guanabara Bay, a box over Rio de Janeiro. Land
// north of the city and in the Serra do Mar, sea south of it, and a page written beside.
TEST(MapFiles, SvgShowsLandAndSeaOnTheCoast) {
  MapRun r;
  run_map(r,
          input("-44.0, -42.0, -23.5, -22.0", "0, 60", "27/07/2025 00:00:00.000000000",
                "27/07/2025 10:00:00.000000000", "1", "amazonia1_2025.tle"),
          "amazonia1_2025.tle");
  ASSERT_EQ(r.map.status, 0) << r.map.output;
  const std::string svg_file = r.dir.file(map::kSvgFile), png_file = r.dir.file("map.png");
  ASSERT_EQ(std::system(("rsvg-convert '" + svg_file + "' -o '" + png_file + "'").c_str()), 0);
  const Image img = read_png(png_file);
  const std::string svg = read_file(svg_file);
  const double x0 = attribute(svg, "data-x0"), y0 = attribute(svg, "data-y0");
  const double lon_min = attribute(svg, "data-lon-min"), lat_max = attribute(svg, "data-lat-max");
  const double cos_lat = attribute(svg, "data-cos-lat"), scale = attribute(svg, "data-scale");
  const auto pixel = [&](double lon, double lat) {
    return img.at(x0 + (lon - lon_min) * cos_lat * scale, y0 + (lat_max - lat) * scale);
  };
  for (const auto& [lon, lat] : {std::pair{-43.23, -21.61}, std::pair{-44.62, -22.4}}) {
    const unsigned char* land = pixel(lon, lat);
    EXPECT_GT(land[0], land[2] + 4) << lon << " " << lat;  // warm grey
  }
  for (const auto& [lon, lat] : {std::pair{-43.2, -24.0}, std::pair{-42.3, -23.8}}) {
    const unsigned char* sea = pixel(lon, lat);
    EXPECT_GT(sea[2], sea[0] + 4) << lon << " " << lat;  // cool white
  }
  EXPECT_LT(std::filesystem::file_size(r.dir.path / map::kPageFile), 2'000'000u);
}

// Texts reach the page as data: none can end its script element or add markup, and bytes
// that are not UTF-8 become U+FFFD.
TEST(MapFiles, PageTextsCannotBreakOutOfTheData) {
  page::Page p;
  p.header.title = "</script><script>alert(1)</script>";
  p.targets.push_back(
      {"id", "<!-- \xFF", {{{1.0, 2.0}, {3.0, 2.0}, {3.0, 4.0}, {1.0, 2.0}}}, {}, {}});
  const std::string html = page::page_html(p);
  EXPECT_EQ(html.find("alert(1)</script>"), std::string::npos);
  EXPECT_EQ(html.find("<!-- "), std::string::npos);
  EXPECT_NE(html.find(R"("title":"\u003c/script\u003e\u003cscript\u003ealert(1))"),
            std::string::npos);
  EXPECT_NE(html.find("\"name\":[\"\\u003c!-- \xEF\xBF\xBD\"]"), std::string::npos);
  // Scripts run by their hashes alone: no inline script or handler added to the page can.
  EXPECT_EQ(html.find("'unsafe-inline'; style-src"), std::string::npos);
  EXPECT_NE(html.find("script-src 'sha256-"), std::string::npos);
}

// The header's interval as people write it: seconds and milliseconds only when not zero, the
// offset with a minus sign, a fractional offset in hours and minutes.
TEST(MapFiles, PageIntervalReadsAsPeopleWriteIt) {
  EXPECT_EQ(
      page::interval_text("01/07/2025 00:00:00.000000000", "31/07/2025 00:00:00.000000000", -3.0),
      "01/07/2025 00:00 to 31/07/2025 00:00, UTC \u22123");
  EXPECT_EQ(page::interval_text("31/07/2025 10:14:25.500000000", "01/08/2025 00:00:05.000", 5.5),
            "31/07/2025 10:14:25.500 to 01/08/2025 00:00:05, UTC +5:30");
  EXPECT_EQ(page::interval_text("01/01/2024 23:59:00", "02/01/2024 00:00:00", 0.0),
            "01/01/2024 23:59 to 02/01/2024 00:00, UTC");
}

// A swath ring (points (1) forward, (2) back) keeps that form when simplified: a straight one
// comes down to its first and last steps, a curved one keeps more, and no point of the ring
// lies farther than the tolerance (twice it, where the two sides' points are joined) from the
// simplified ring.
TEST(MapFiles, PageSwathsSimplifiedKeepTheirSteps) {
  const auto ring = [](double curve) {
    page::Line side1, side2, out;
    for (int i = 0; i <= 40; ++i) {
      const double x = 0.05 * i, y = curve * x * x;
      side1.push_back({x, y});
      side2.push_back({x, y + 1.0});
    }
    out = side1;
    out.insert(out.end(), side2.rbegin(), side2.rend());
    out.push_back(out.front());
    return out;
  };
  const double tol = 1e-3;
  const page::Line straight = page::simplified_swath(ring(0.0), tol);
  ASSERT_EQ(straight.size(), 5u);
  EXPECT_EQ(straight[1].lon_deg, 2.0);
  EXPECT_EQ(straight[2].lat_deg, 1.0);
  const page::Line whole = ring(0.3), curved = page::simplified_swath(whole, tol);
  ASSERT_GT(curved.size(), 7u);
  ASSERT_EQ(curved.size() % 2, 1u);
  const std::size_t m = (curved.size() - 1) / 2;
  for (std::size_t k = 0; k < m; ++k) EXPECT_EQ(curved[k].lon_deg, curved[2 * m - 1 - k].lon_deg);
  for (const page::Point& p : whole) {
    double best = 1e9;
    for (std::size_t k = 1; k < curved.size(); ++k) {
      const page::Point a = curved[k - 1], b = curved[k];
      const double dx = b.lon_deg - a.lon_deg, dy = b.lat_deg - a.lat_deg;
      const double f = std::clamp(
          ((p.lon_deg - a.lon_deg) * dx + (p.lat_deg - a.lat_deg) * dy) / (dx * dx + dy * dy), 0.0,
          1.0);
      best = std::min(best,
                      std::hypot(a.lon_deg + f * dx - p.lon_deg, a.lat_deg + f * dy - p.lat_deg));
    }
    EXPECT_LE(best, 2 * tol) << p.lon_deg << " " << p.lat_deg;
  }
}

// The hashes of the page's scripts: SHA-256 of the FIPS 180-2 examples (appendix B), one and
// two blocks of padding, and of the empty text, in base64.
TEST(MapFiles, ScriptHashesAreSha256) {
  EXPECT_EQ(page::csp_hash(""), "'sha256-47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU='");
  // ba7816bf 8f01cfea 414140de 5dae2223 b00361a3 96177a9c b410ff61 f20015ad
  EXPECT_EQ(page::csp_hash("abc"), "'sha256-ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0='");
  // 248d6a61 d20638b8 e5c02693 0c3e6039 a33ce459 64ff2167 f6ecedd4 19db06c1
  EXPECT_EQ(page::csp_hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "'sha256-JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE='");
}

// The map computes its contacts from the run's inputs: the reports are not read, and a
// missing input is named.
TEST(MapFiles, MissingInputsStopWithAMessage) {
  MapRun r;
  run_map(r,
          input("-48.3, -47.3, -16.1, -15.4", "0, 60", "27/07/2025 00:00:00.000000000",
                "29/07/2025 00:00:00.000000000", "1", "amazonia1_2025.tle"),
          "amazonia1_2025.tle");
  ASSERT_EQ(r.map.status, 0);
  const std::string geojson = read_file(r.dir.file(map::kGeoJsonFile));
  for (const char* report : {kOut1File, kOut2File, kOut3File})
    std::filesystem::remove(r.dir.path / report);
  EXPECT_EQ(run_map_in(r.dir).status, 0);
  EXPECT_EQ(read_file(r.dir.file(map::kGeoJsonFile)), geojson);
  // A run directory whose path is longer than the 70 columns of record 5.
  const std::filesystem::path deep = r.dir.path / std::string(80, 'd');
  std::filesystem::create_directory(deep);
  for (const char* f : {"amazonia1_2025.tle", "finals2000A.data", "ORVUS_IN.TXT"})
    std::filesystem::copy(r.dir.path / f, deep / f);
  EXPECT_EQ(
      test::run_command("'" + std::string(ORVUS_MAP_BINARY) + "' '" + deep.string() + "'").status,
      0);
  for (const char* input_file : {"amazonia1_2025.tle", "finals2000A.data", "ORVUS_IN.TXT"}) {
    std::filesystem::rename(r.dir.path / input_file, r.dir.path / "moved");
    const auto res = run_map_in(r.dir);
    EXPECT_EQ(res.status, 1);
    EXPECT_NE(res.output.find(input_file), std::string::npos) << res.output;
    std::filesystem::rename(r.dir.path / "moved", r.dir.path / input_file);
  }
}

}  // namespace
}  // namespace orvus
