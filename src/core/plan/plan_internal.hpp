// The planner's internals: the sweeps (core/sweep), the limits of a plan's inputs
// (core/decks) and the writers of its tables (core/tables), for the plan file, coverage,
// passes and the whole run.
#pragma once

#include "core/decks/decks_internal.hpp"
#include "core/sweep/sweep_internal.hpp"
#include "core/tables/tables_internal.hpp"
