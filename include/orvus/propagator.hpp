// Earlier name of orvus/orbit.hpp, kept so that code written against it still builds; new
// code includes orvus/orbit.hpp.
#pragma once

#include "orvus/orbit.hpp"
