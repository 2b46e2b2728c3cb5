// The device table moved from discovery/ to units/; the route tests of the
// install job still name it by its old place. This forwarding header serves
// only their program (see tests/CMakeLists.txt) and goes when their include
// names "units/unit_table.h".
#pragma once

#include "units/unit_table.h"
