// A condition that ends the run is an orvus::Error: it carries the console lines to print;
// `main` (and the exported C entry) print them and exit with a non-zero status.
#pragma once

#include "orvus/error.hpp"

namespace orvus {

using Fatal = Error;

// Writes the lines of a fatal error to standard output, one per line, and flushes.
void print_fatal(const Error& error);

}  // namespace orvus
