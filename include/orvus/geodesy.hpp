// Earlier name of orvus/geometry.hpp, kept so that code written against it still builds; new
// code includes orvus/geometry.hpp.
#pragma once

#include "orvus/geometry.hpp"
