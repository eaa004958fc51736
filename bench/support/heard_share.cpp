#include "support/heard_share.h"

#include "test_helpers/played_at.h"

#include <cstddef>

namespace Bench {

double heardShare(const std::vector<float>& recording, const std::vector<float>& reference)
{
    constexpr std::size_t stretch = 44100 / 100;
    const std::size_t frames = reference.size() / 2;
    std::size_t heard = 0, total = 0;
    long offset = 0;
    bool placed = false;
    for (std::size_t at = 0; at + stretch <= frames; at += stretch, ++total) {
        const auto here = static_cast<std::size_t>(long(at) + offset);
        if (placed && TestHelpers::differingFrames(recording, here - at, reference, at, at + stretch) == 0) {
            ++heard;
            continue;
        }
        const std::size_t found = TestHelpers::findExact(recording, reference, at, stretch);
        if (found != TestHelpers::notFound) {
            offset = long(found) - long(at);
            placed = true;
            ++heard;
        }
    }
    return total ? double(heard) / double(total) : 0;
}

} // namespace Bench
