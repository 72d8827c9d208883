// Earlier name of orvus/search.hpp, kept so that code written against it still builds; new
// code includes orvus/search.hpp.
#pragma once

#include "orvus/search.hpp"
