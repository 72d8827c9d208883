// Earlier name of orvus/io.hpp, kept so that code written against it still builds; new
// code includes orvus/io.hpp.
#pragma once

#include "orvus/io.hpp"
