#pragma once

#include <vector>

namespace Bench {

// The share of the reference's 10 ms stretches that stand bit-exact in the
// recording (both interleaved stereo at 44100 Hz), anywhere: what plays
// late or early still counts. The offset is followed where it moves.
double heardShare(const std::vector<float>& recording, const std::vector<float>& reference);

} // namespace Bench
