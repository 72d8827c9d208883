// orvus-map [directory]: the contacts of an orvus run as GeoJSON, KML and an SVG map.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "legacy/fatal.hpp"
#include "map.hpp"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '-'))) {
    std::printf(
        "Usage: orvus-map [directory]\n"
        "Computes the contacts of the orvus run in the directory given (or the working\n"
        "directory) from its ORVUS_IN.TXT, element file and finals2000A.data, as orvus does,\n"
        "and writes there\n"
        "ORVUS_v" ORVUS_VERSION "_CONTACTS.geojson, ORVUS_v" ORVUS_VERSION
        "_CONTACTS.kml, ORVUS_v" ORVUS_VERSION "_MAP.svg and ORVUS_v" ORVUS_VERSION "_MAP.html.\n");
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  const fs::path dir = argc == 2 ? fs::path(argv[1]) : fs::current_path();
  try {
    orvus::map::Run run;
    orvus::map::read_run(dir, run);
    orvus::map::write_geojson(run, dir / orvus::map::kGeoJsonFile);
    orvus::map::write_kml(run, dir / orvus::map::kKmlFile);
    orvus::map::write_svg(run, dir / orvus::map::kSvgFile);
    orvus::map::write_page(run, dir / orvus::map::kPageFile);
    std::printf("  ORVUS-MAP: %zu CONTACT(S) WRITTEN TO %s, %s, %s AND %s\n", run.contacts.size(),
                orvus::map::kGeoJsonFile, orvus::map::kKmlFile, orvus::map::kSvgFile,
                orvus::map::kPageFile);
  } catch (const orvus::Fatal& error) {
    orvus::print_fatal(error);
    return 1;
  } catch (const std::exception& error) {
    std::printf(" ORVUS-MAP: %s\n EXECUTION INTERRUPTED.\n", error.what());
    return 1;
  }
  return 0;
}
