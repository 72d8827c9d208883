// The SPOT5 daily-scheduling instances: reader, translation into the scheduler's problem and
// a check of an answer against the file's own constraints.
//
// Format (whitespace-separated numbers, one record a line): the number of photographs; per
// photograph `id weight domain-size {value consumption}*` (extra fields ignored); the number
// of constraints; per constraint `arity id... {forbidden tuple of arity values}*`; for the
// multi-orbit instances, last, the recorder capacity (same unit as the consumptions).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvus/schedule.hpp"

namespace spot5 {

struct Photo {
  long id = 0;
  long weight = 0;
  std::vector<int> values;          // value codes: 1, 2, 3 (a camera) or 13 (stereo)
  std::vector<double> consumption;  // recorder use of each value
};

struct Constraint {
  std::vector<std::size_t> photos;          // indices into Instance::photos
  std::vector<std::vector<int>> forbidden;  // tuples of value codes, one per photo
};

struct Instance {
  std::vector<Photo> photos;
  std::vector<Constraint> constraints;
  std::optional<double> capacity;
};

// Raises std::runtime_error naming the line of a malformed record.
Instance read(const std::string& path);

// Candidates in the file's order, values in each photograph's order, costs zero; the recorder
// is resource 0 when there is a capacity.
orvus::ScheduleProblem to_problem(const Instance& inst);

// What an answer (value code per photograph, 0 for none) breaks, one text per violation:
// codes outside a domain, forbidden tuples taken, the recorder over its capacity.
std::vector<std::string> violations(const Instance& inst, const std::vector<int>& codes);

}  // namespace spot5
