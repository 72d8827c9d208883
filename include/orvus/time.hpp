// Instants as the system counts them: a day number (days since 1950-01-01 0 h, so that
// day + 2433282.5 is the Julian Date) and the seconds of that day.
#pragma once

#include "orvus/export.hpp"

namespace orvus {

struct UtcInstant {
  double day = 0.0;      // days since 1950-01-01 0 h UTC
  double seconds = 0.0;  // seconds of the day, 0 to 86400
};

// Brings the seconds back into the day once after a change: more than 86400 moves to the
// next day, below 0 to the previous day; exactly 86400 stays.
inline void normalise(double& day, double& seconds) {
  if (seconds > 86400.0) {
    day += 1.0;
    seconds -= 86400.0;
  } else if (seconds < 0.0) {
    day -= 1.0;
    seconds += 86400.0;
  }
}
inline UtcInstant normalise(UtcInstant t) {
  normalise(t.day, t.seconds);
  return t;
}

// Seconds from `epoch` to `t`: (day - epoch day) * 86400 + (seconds - epoch seconds).
inline double since_epoch(const UtcInstant& epoch, double day, double seconds) {
  return (day - epoch.day) * 86400.0 + (seconds - epoch.seconds);
}
inline double since_epoch(const UtcInstant& epoch, const UtcInstant& t) {
  return since_epoch(epoch, t.day, t.seconds);
}

}  // namespace orvus
