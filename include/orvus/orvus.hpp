// The ORVUS library: element sets, the SGP8 model, Earth orientation, frames, geodesy and
// the contact search, with contacts as records.
#pragma once

#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/frames.hpp"
#include "orvus/geometry.hpp"
#include "orvus/orbit.hpp"
#include "orvus/passes.hpp"
#include "orvus/search.hpp"
#include "orvus/threads.hpp"
#include "orvus/time.hpp"
#include "orvus/version.hpp"
