// The ORVUS library, the whole C++ API in one header: element sets, the SGP8 model, time and
// Earth orientation, frames, geometry and the contact search with contacts as records; the
// planner (targets, plans, coverage, the run as one call and its tables), ground-station
// passes and the scheduler.
// The C entries are declared apart, in orvus/vek_p1.h.
#pragma once

#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"
#include "orvus/coverage.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/frames.hpp"
#include "orvus/geometry.hpp"
#include "orvus/orbit.hpp"
#include "orvus/passes.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/plan_tables.hpp"
#include "orvus/planner.hpp"
#include "orvus/schedule.hpp"
#include "orvus/search.hpp"
#include "orvus/threads.hpp"
#include "orvus/time.hpp"
#include "orvus/version.hpp"
