#pragma once

#include "test_helpers/ogg_maker.h"

#include <string>

namespace TestHelpers {

// What veldrane-send sends of an Ogg Vorbis file with repair data
// (`percent` as its --repair), all at once, datagrams one after another.
Bytes sendWithRepair(const std::string& path, int percent);

} // namespace TestHelpers
