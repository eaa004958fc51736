#include "test_helpers/markers.h"

#include "test_helpers/ogg_maker.h"

#include <algorithm>
#include <cmath>

namespace TestHelpers {

std::vector<std::size_t> markerOnsets(const std::vector<float>& interleaved, float amplitude,
                                      std::size_t minGap)
{
    // Halfway between the signal's peak and a mark's peak: the encoder's
    // ripple stays below it, a mark's first half wave passes it.
    const float threshold = amplitude * (1.0f + markerGain) / 2.0f;
    std::vector<std::size_t> onsets;
    const std::size_t frames = interleaved.size() / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::fabs(interleaved[2 * i]) < threshold)
            continue;
        if (onsets.empty() || i - onsets.back() >= minGap)
            onsets.push_back(i);
    }
    return onsets;
}

std::size_t longestSilence(const std::vector<float>& interleaved, std::size_t from, std::size_t to)
{
    std::size_t longest = 0;
    std::size_t run = 0;
    to = std::min(to, interleaved.size() / 2);
    for (std::size_t i = from; i < to; ++i) {
        run = interleaved[2 * i] == 0.0f && interleaved[2 * i + 1] == 0.0f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace TestHelpers
