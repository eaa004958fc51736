#pragma once

#include "test_helpers/sink_recorder.h"

#include <cstddef>
#include <vector>

namespace TestHelpers {

// The receiver hands the device buffers of this many frames.
constexpr std::size_t receiverBufferFrames = 8192;

// Expects the reference in the recording whole and in order: found, every
// frame present without gap or repetition, at least 90 dB signal to noise
// (with options.tolerance 0, the samples must be bit-exact), and nothing
// but exact silence after its last frame.
void expectPlayedWhole(const std::vector<float>& recording, const std::vector<float>& reference,
                       const CompareOptions& options = CompareOptions());

// Expects every frame of the reference in the recording once, in order,
// and nothing else audible; stretches of exact silence may lie anywhere.
// For tests about what is played rather than when: a busy machine may
// leave the sound server without data for a moment, and the gap it plays
// is not what they check.
void expectPlayedInOrder(const std::vector<float>& recording, const std::vector<float>& reference);

// The stretches of exact silence of at least `shortest` frames between
// the first and the last frame that sounds: their count and frames.
struct Silences {
    long count = 0;
    std::size_t frames = 0;
};
Silences silencesWithin(const std::vector<float>& interleaved, std::size_t shortest);

// The frames that are not exact silence, in order (interleaved stereo).
std::vector<float> withoutSilence(const std::vector<float>& interleaved);

} // namespace TestHelpers
