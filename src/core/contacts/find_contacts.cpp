// The public contact search: the plain search, or the screened one, which is the sweep of
// the points rule (core/sweep) over the one box.
#include <functional>
#include <utility>
#include <vector>

#include "core/contacts/screened.hpp"
#include "core/search/search.hpp"
#include "core/sweep/sweep.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/search.hpp"
#include "orvus/threads.hpp"

namespace orvus {

void screened_search(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                     ContactSink& sink, int threads, const std::function<void()>& between_blocks) {
  // The sweep of the points rule over one target, the run's box. The screening's reach and
  // speed are the orbit's and the sensor's, whatever the box (even one that holds nothing).
  SearchParams whole = p;
  whole.gc_lon1 = -180.0;
  whole.gc_lon2 = 180.0;
  whole.gc_lat1 = -90.0;
  whole.gc_lat2 = 90.0;
  Screen screen;
  init_screen(whole, orbit, screen);
  std::vector<plan::Prepared> box{plan::prepare_box(p)};
  const plan::TargetIndex index =
      plan::index_prepared(std::move(box), screen, plan::sweep_frame_gap(p, table));
  std::vector<ContactSink*> sinks{&sink};
  std::function<void(double)> progress;
  if (between_blocks) progress = [&between_blocks](double) { between_blocks(); };
  plan::sweep_points(p, orbit, table, screen, index, sinks, progress, threads);
}

void find_contacts(const Satellite& satellite, const Box& target, const Interval& interval,
                   const EarthOrientation& eop, ContactSink& sink, const SearchOptions& options) {
  SearchParams p;
  search_setup(satellite.sensor, target, interval, p);
  const Propagator& orbit = satellite.orbit;
  check_orbit_domain(p, orbit);
  validate(satellite.sensor, interval, &orbit);
  const EopRows& table = detail::eop_rows(eop);
  if (options.method == SearchMethod::plain) {
    contact_search(p, orbit, table, sink, options.between_blocks);
    return;
  }
  int threads = options.threads;
  if (threads <= 0) threads = machine_threads();
  screened_search(p, orbit, table, sink, threads, options.between_blocks);
}

std::vector<Contact> find_contacts(const Satellite& satellite, const Box& target,
                                   const Interval& interval, const EarthOrientation& eop,
                                   const SearchOptions& options) {
  ContactList list;
  find_contacts(satellite, target, interval, eop, list, options);
  return std::move(list.contacts);
}

}  // namespace orvus
