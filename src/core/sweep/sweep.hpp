// What the sweeps of both rules share: the targets of one satellite's sweep in an R-tree of
// their bounding boxes, the sub-satellite point from the cheap state (SGP8 and the mean
// sidereal time), and the screening bounds that prove a stretch of time out of view.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "core/geometry/boost_geometry.hpp"
#include "core/sweep/sweep_internal.hpp"

namespace orvus::plan {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using P2 = bg::model::point<double, 2, bg::cs::cartesian>;
using B2 = bg::model::box<P2>;
using Entry = std::pair<B2, std::size_t>;  // a bounding box (degrees) and its entry number

// The longitude/latitude boxes (degrees, split at +-180) holding every point within the
// angle `radius` (rad) of (lon, lat) (rad); how many (1 or 2).
int cap_boxes(double lon, double lat, double radius, B2 out[2]);

// The sub-satellite point by SGP8 and the mean sidereal time (the screening's cheap chain).
struct CheapState {
  StateVector ef{};          // Earth-fixed state by the mean sidereal time of UTC, m and m/s
  double lon = 0, lat = 0;   // sub-satellite point, rad
  V3 up{}, along{}, left{};  // radial, along-track (velocity across the radius), r x v
  double r = 0, vr = 0;      // radius (m) and radial speed (m/s)
};
// False when the screening bounds do not hold at this time.
bool cheap_point(const Propagator& orbit, const Screen& s, double day, double seconds,
                 CheapState& cs);

// What one satellite's sweep starts from: its orbit, its search over the whole Earth in the
// plan's interval (or the given one) and the screening of that search.
struct SatelliteSweep {
  SatelliteSweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                 const Interval& interval);
  SatelliteSweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite)
      : SatelliteSweep(plan, eop, satellite, plan.interval) {}
  const Propagator orbit;
  const EopRows& table;
  SearchParams sp;
  Screen scr;
};

// The targets [first, last) of one satellite's sweep: prepared, and each bounding box an entry
// of the R-tree with what the screening bounds need of it.
struct TargetIndex {
  std::vector<Prepared> targets;
  std::vector<Screen> entry_screen;  // the entry's box for the distance bound
  std::vector<std::size_t> entry_target;
  std::vector<V3> entry_centre;      // centre of the entry's box
  std::vector<double> entry_radius;  // angle from it that holds the whole box, rad
  std::vector<BBox> entry_near;      // the entry's box grown by the frame gap
  bgi::rtree<Entry, bgi::quadratic<16>> tree;
  // Per target, the caps (centre, sine of the radius) that hold it: a great circle that
  // misses them all misses the target.
  std::vector<std::vector<std::pair<V3, double>>> caps;
};
TargetIndex index_targets(const Plan& plan, std::size_t satellite, std::size_t first,
                          std::size_t last, const Screen& screen, const FrameGap& frame);
// The index of targets already prepared.
TargetIndex index_prepared(std::vector<Prepared> targets, const Screen& screen,
                           const FrameGap& frame);

// What one of a sweep's threads keeps for the targets it applies, those with
// t % threads == lane: the targets in contact (`active`) and the R-tree's hits at this
// instant (`hits`). `gather` puts both, each once, in order in `todo` and empties `active`
// for the caller to refill. Nothing is allocated once the vectors have grown.
struct TargetLane {
  explicit TargetLane(std::size_t targets) : stamp(targets, 0) {}
  void gather(const TargetIndex& index, std::size_t lane, std::size_t threads);
  std::vector<std::size_t> active, todo, stamp;
  std::size_t stamp_now = 0;
  std::vector<Entry> hits;
};

// The frame gap of a search's interval (frame_gap over the table's rows around it).
FrameGap sweep_frame_gap(const SearchParams& sp, const EopRows& table);

// The sweep of the points rule, the one engine of every step-by-step search: steps screened
// in blocks with the cheap state (the bounds of screen_instant, then the cheap tracking points
// against the targets' boxes grown by the frame gap), those that may be in view computed
// exactly on `threads` threads (and the step after each, which may end a contact, and every
// step of a day missing from the Earth-orientation table, where the run stops), then applied
// in time order to the targets near them by the contact state machine (apply_step). Contact
// events of target i go to sinks[i]. `sp` holds the satellite's sensor and interval;
// `progress` is called after each block with the share done. Returns the steps computed.
std::size_t sweep_points(const SearchParams& sp, const Propagator& orbit, const EopRows& table,
                         const Screen& screen, const TargetIndex& index,
                         const std::vector<ContactSink*>& sinks,
                         const std::function<void(double)>& progress, int threads);

// An index of bare boxes (entry_target numbers the boxes; no targets prepared), screened
// without a frame gap.
TargetIndex index_boxes(const std::vector<BBox>& boxes, const Screen& screen);

// The screening of one instant from its cheap state: the time (s) during which no tracking
// point, nor with `arc` the arc from point (1) to point (2), can reach any target's box, or a
// negative number when some target may be in view now. For the boxes the bounds leave in
// view, `near(entry)`, when given, may still prove them out at this instant only.
double screen_instant(const TargetIndex& index, const Screen& screen, const SearchParams& sp,
                      const CheapState& cs, bool arc, const std::function<bool(std::size_t)>& near,
                      std::vector<Entry>& hits);

}  // namespace orvus::plan
