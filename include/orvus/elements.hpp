// Element sets: the mean elements of one satellite at an epoch, as the SGP8 model reads
// them, and the reader that recognises the published forms by content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "orvus/export.hpp"
#include "orvus/time.hpp"

namespace orvus {

// Units are those of the model: radians, radians per second, seconds.
struct ElementSet {
  std::string name;                      // title line as written / OBJECT_NAME (no line end)
  std::int64_t catalogue_number = 0;     // up to nine digits; Alpha-5 decoded
  std::string international_designator;  // as published, may be empty
  std::int32_t revolution_number = 0;    // at epoch
  UtcInstant epoch;                      // whole day number, seconds of that day
  double mean_motion = 0.0;              // rad/s
  double eccentricity = 0.0;
  double inclination = 0.0;       // rad
  double raan = 0.0;              // right ascension of the ascending node, rad
  double arg_perigee = 0.0;       // rad
  double mean_anomaly = 0.0;      // rad
  double bstar = 0.0;             // drag term, 1 / Earth radii
  double mean_motion_dot = 0.0;   // rev/day^2, as published (already halved); not used by SGP8
  double mean_motion_ddot = 0.0;  // rev/day^3, as published (already divided by six); not used
};

// Which set of a catalogue to take: by name (trimmed, case-insensitive) or catalogue number.
using ElementSelect = std::variant<std::monostate, std::string, std::int64_t>;

// Every element set in the text of one file (`source` names it in messages). Raises
// orvus::Error (kind elements) naming the file and the set on anything malformed.
ORVUS_API std::vector<ElementSet> read_element_sets(std::istream& in, const std::string& source);
ORVUS_API std::vector<ElementSet> read_element_file(const std::string& path);

// One set of a file: the one `select` names, or the first. Raises Error when none matches.
ORVUS_API ElementSet read_elements(const std::string& path, const ElementSelect& select = {});

// Whether the set's name is `name`, both trimmed of blanks and compared without case (a title
// line written "0 NAME" is NAME).
ORVUS_API bool name_matches(const ElementSet& set, std::string_view name);

// Position of the first set that `select` names (the first set when it names none); -1 if none.
ORVUS_API std::ptrdiff_t find_element_set(const std::vector<ElementSet>& sets,
                                          const ElementSelect& select);

// Age of the elements at `t`, in days: positive after the epoch. The mean elements degrade by
// about 1-3 km a day away from their epoch.
ORVUS_API double element_age_days(const ElementSet& set, const UtcInstant& t);

}  // namespace orvus
