#include "audio/hole_stage.h"

#include <algorithm>
#include <cstddef>

namespace Audio {

HoleStage::HoleStage() : _left(new float[capacity]), _right(new float[capacity])
{
}

void HoleStage::begin(int64_t position)
{
    _active = true;
    _holeAt = position;
    _frames = 0;
}

bool HoleStage::add(const float* left, const float* right, int frames)
{
    if (frames > capacity - _frames)
        return false;
    std::copy_n(left, frames, _left.get() + _frames);
    std::copy_n(right, frames, _right.get() + _frames);
    _frames += frames;
    return true;
}

void HoleStage::fadeIn(int frames)
{
    const int n = std::min(frames, _frames);
    for (int i = 0; i < n; ++i) {
        const float gain = static_cast<float>(i) / static_cast<float>(n);
        _left[i] *= gain;
        _right[i] *= gain;
    }
}

void HoleStage::clear()
{
    _active = false;
    _frames = 0;
}

void fadeOutBefore(float* end, int frames)
{
    float* from = end - std::ptrdiff_t{2} * frames;
    for (std::ptrdiff_t i = 0; i < frames; ++i) {
        const float gain = static_cast<float>(frames - 1 - i) / static_cast<float>(frames);
        from[2 * i] *= gain;
        from[2 * i + 1] *= gain;
    }
}

} // namespace Audio
