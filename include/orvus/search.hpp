// The contact search: one step after another over a UTC interval, three tracking points
// (at ALPHA, ALPHA - BETA/2 and ALPHA + BETA/2) tested against a target box; a run of
// steps with a point in the box is a contact, closed at the first step out of it with its
// best time, best off-nadir angle and pass direction. Contacts go to a sink as they are
// found: nothing is kept per contact beyond the one that is open.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/error.hpp"
#include "orvus/export.hpp"
#include "orvus/geometry.hpp"
#include "orvus/orbit.hpp"
#include "orvus/time.hpp"

namespace orvus {

// Off-nadir view angle ALPHA and field of view BETA, degrees; ALPHA is signed, positive to
// the left of the ground track (the side of r x v).
struct Sensor {
  double alpha_deg = 0.0;
  double beta_deg = 0.0;
};

struct Satellite {
  Propagator orbit;
  Sensor sensor;
};

// Start and end (UTC, both included), the step, and the offset of the local times.
struct Interval {
  UtcInstant start, end;
  double step_s = 1.0;
  double utc_offset_hours = 0.0;
};

// One in-box step: its times and the ground points of the three tracking points.
struct ContactStep {
  UtcInstant utc, local;
  double tsince_s = 0.0;  // from the element-set epoch
  double radius_m = 0.0;  // local sphere the points lie on
  std::array<GroundPoint, 3> geocentric{}, geodetic{};
};

struct Contact {
  int number = 0;
  bool closed = false;  // false: still open when the interval ended (no summary)
  UtcInstant start_utc, end_utc, start_local, end_local;  // first and last in-box steps
  double duration_s = 0.0;
  UtcInstant best_utc, best_local;             // abeam of the box centre
  double best_alpha_deg = 0.0;                 // off-nadir angle that looks at the box centre then
  GroundPoint best_geocentric, best_geodetic;  // ground point seen at that angle
  double distance_deg = 0.0;       // of the best ground point from the box centre, geodetic
  char pass = 'D';                 // 'A' ascending, 'D' descending
  std::vector<ContactStep> steps;  // filled by ContactList
};

// Receives a search's contacts in time order. A contact is started, given each in-box step
// (the first one included), then ended with its summary, or left open at the end.
class ORVUS_API ContactSink {
 public:
  virtual ~ContactSink() = default;
  virtual void contact_start(int number, const ContactStep& first) = 0;
  virtual void contact_step(int number, const ContactStep& step) = 0;
  virtual void contact_end(const Contact& contact) = 0;  // `contact.steps` is empty here
  virtual void open_at_end(int number) = 0;
};

// Keeps every contact with its steps.
class ORVUS_API ContactList : public ContactSink {
 public:
  void contact_start(int number, const ContactStep& first) override;
  void contact_step(int number, const ContactStep& step) override;
  void contact_end(const Contact& contact) override;
  void open_at_end(int number) override;
  std::vector<Contact> contacts;
};

enum class SearchMethod {
  screened,  // compute exactly only the steps where the box may be in view (the default)
  plain,     // compute every step
};

struct SearchOptions {
  SearchMethod method = SearchMethod::screened;
  int threads = 0;  // of the screened search; 0: the hardware's
  // When set, called on the calling thread between blocks of a few thousand steps, never
  // inside one: it may throw to stop the search (a caller's interrupt), and the exception
  // leaves find_contacts as thrown, the sink having received every event before it.
  std::function<void()> between_blocks = {};
};

// ---- the checks of a search's settings, in one place ----------------------------------------
// Every command and the Python module check a search's settings with these (each labelling the
// message for its own input: a record, a key, an argument).

// A setting a search cannot serve, of what kind, in the library's words.
struct SettingProblem {
  enum class Setting { sensor, step, utc_offset, horizon };
  Setting setting;
  ErrorKind kind;
  std::string text;  // e.g. "THE TIME STEP MUST LIE FROM 0.001 S ... (GIVEN: 0.0001)."
};

// ALPHA - BETA/2 and ALPHA + BETA/2 strictly within +-90 deg.
ORVUS_API std::optional<SettingProblem> check_sensor(const Sensor& sensor);
// A step from 0.001 s (the resolution of every time written) to 86400 s.
ORVUS_API std::optional<SettingProblem> check_step(double step_s);
// A UTC offset within +-24 h (local and UTC times are brought into the day by one turn).
ORVUS_API std::optional<SettingProblem> check_utc_offset(double hours);
// Both edges of the view within the horizon angle asin(b / r) at the orbit's apogee: for an
// orbit the model serves (ask check_orbit first).
ORVUS_API std::optional<SettingProblem> check_horizon(const Sensor& sensor,
                                                      const Propagator& orbit);
// Raises Error (kind model) when the model cannot serve the orbit at the interval's start: a
// period of 225 minutes or more (deep space), or no finite state above the ground there.
ORVUS_API void check_orbit(const Propagator& orbit, const Interval& interval);
// The settings of a search checked in this order: sensor, step, UTC offset, the instants, and
// with an orbit its domain and the horizon. Raises the first problem as Error (lines " WHAT:
// text", " EXECUTION INTERRUPTED.").
ORVUS_API void validate(const Sensor& sensor, const Interval& interval,
                        const Propagator* orbit = nullptr);

// Raises Error on a step the Earth-orientation table does not cover, or that the model
// cannot serve; the sink has then received every contact event before that step.
ORVUS_API void find_contacts(const Satellite& satellite, const Box& target,
                             const Interval& interval, const EarthOrientation& eop,
                             ContactSink& sink, const SearchOptions& options = {});
ORVUS_API std::vector<Contact> find_contacts(const Satellite& satellite, const Box& target,
                                             const Interval& interval, const EarthOrientation& eop,
                                             const SearchOptions& options = {});

}  // namespace orvus
