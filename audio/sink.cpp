#include "audio/sink.h"

#include <algorithm>
#include <cstddef>

namespace Audio {

void Sink::write(const float* const* channels, int offset, int count)
{
    float* out = frameData(offset);
    const float* left = channels[0];
    const float* right = channels[1];
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

void Sink::silence(int offset, int count)
{
    std::fill_n(frameData(offset), std::ptrdiff_t{2} * count, 0.0f);
}

} // namespace Audio
