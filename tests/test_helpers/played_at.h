#pragma once

#include <cstddef>
#include <vector>

namespace TestHelpers {

// Finding a stretch of a reference decode in a recording (interleaved
// stereo at 44100 Hz), for tests about when the frames of a stream play.

constexpr std::size_t notFound = static_cast<std::size_t>(-1);

// The recording frame where reference frames at .. at+count-1 stand bit for
// bit, or notFound.
std::size_t findExact(const std::vector<float>& recording, const std::vector<float>& reference,
                      std::size_t at, std::size_t count = 256);
// With reference frame i played at recording frame offset + i: how many
// of the reference frames from .. to-1 differ (or lie outside the recording).
std::size_t differingFrames(const std::vector<float>& recording, std::size_t offset,
                            const std::vector<float>& reference, std::size_t from, std::size_t to);
// How many recording frames from .. to-1 are not exact silence.
std::size_t soundingFrames(const std::vector<float>& recording, std::size_t from, std::size_t to);

// A stretch of a stream's frames.
struct FrameSpan {
    std::size_t from, to;
};

// Expects the reference played at recording frame offset + its index,
// bit-exact, but for the lost spans: each of them silent, apart from the
// edges, where the fade and the one block a decoder cannot rebuild after
// a hole lie.
void expectLostSpansSilentAndTheRestInPlace(const std::vector<float>& recording, std::size_t offset,
                                            const std::vector<float>& reference,
                                            const std::vector<FrameSpan>& lost);

} // namespace TestHelpers
