// The contact search: one step after another over a UTC interval, three tracking points
// (at ALPHA, ALPHA - BETA/2 and ALPHA + BETA/2) tested against a target box; a run of
// steps with a point in the box is a contact, closed at the first step out of it with its
// best time, best off-nadir angle and pass direction. Contacts go to a sink as they are
// found: nothing is kept per contact beyond the one that is open.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/propagator.hpp"
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

// A box of geodetic degrees, both longitudes first: corner 1 holds the smaller values. A
// corner beyond +-180 makes a box across the antimeridian; a corner may lie at a pole.
struct Box {
  double lon1 = 0.0, lon2 = 0.0, lat1 = 0.0, lat2 = 0.0;
};

// Start and end (UTC, both included), the step, and the offset of the local times.
struct Interval {
  UtcInstant start, end;
  double step_s = 1.0;
  double utc_offset_hours = 0.0;
};

struct GroundPoint {
  double lon_deg = 0.0;  // (-180, 180]
  double lat_deg = 0.0;
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

// Raises Error on a step the Earth-orientation table does not cover, or that the model
// cannot serve; the sink has then received every contact event before that step.
ORVUS_API void find_contacts(const Satellite& satellite, const Box& target,
                             const Interval& interval, const EarthOrientation& eop,
                             ContactSink& sink, const SearchOptions& options = {});
ORVUS_API std::vector<Contact> find_contacts(const Satellite& satellite, const Box& target,
                                             const Interval& interval, const EarthOrientation& eop,
                                             const SearchOptions& options = {});

}  // namespace orvus
