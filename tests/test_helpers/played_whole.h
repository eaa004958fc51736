#pragma once

#include "test_helpers/sink_recorder.h"

#include <cstddef>
#include <vector>

namespace TestHelpers {

// The receiver hands whole output buffers of this many frames to the
// device; the partial one at the end of a stream is never played.
constexpr std::size_t receiverBufferFrames = 8192;

// The samples of a reference decode (interleaved stereo) that a player
// with buffers of bufferFrames plays: whole buffers only.
std::vector<float> playedPart(std::vector<float> reference, std::size_t bufferFrames = receiverBufferFrames);

// Expects the reference in the recording whole and in order: found, every
// frame present without gap or repetition, and at least 90 dB signal to
// noise (with options.tolerance 0, the samples must be bit-exact).
void expectPlayedWhole(const std::vector<float>& recording, const std::vector<float>& reference,
                       const CompareOptions& options = CompareOptions());

} // namespace TestHelpers
