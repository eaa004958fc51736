#pragma once

#include "test_helpers/ogg_maker.h"

#include <string>
#include <vector>

namespace TestHelpers {

// The datagrams veldrane-send sends of an Ogg Vorbis file with repair data
// (`percent` as its --repair), all at once.
std::vector<Bytes> sendWithRepair(const std::string& path, int percent);

} // namespace TestHelpers
