#pragma once

#include <cstddef>
#include <vector>

namespace TestHelpers {

// Where the marks of a marked test signal (OggParams::markerSeconds, at an
// amplitude of at most 1/markerGain between marks) begin in a recording:
// the first frame of each loud stretch of the left channel. Marks closer
// than minGap frames to the previous one belong to it.
std::vector<std::size_t> markerOnsets(const std::vector<float>& interleaved, float amplitude,
                                      std::size_t minGap);

// The longest run of exactly silent frames from frame `from` to frame `to`.
std::size_t longestSilence(const std::vector<float>& interleaved, std::size_t from, std::size_t to);

} // namespace TestHelpers
