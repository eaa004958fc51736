#include "audio/downmix.h"

#include <algorithm>

namespace Audio {

namespace {

constexpr float f = 1.0f;        // own side
constexpr float c = 0.70710678f; // -3 dB
constexpr float h = 0.5f;        // -6 dB

// Gains {left side, right side} per channel, in the Vorbis order for 3 to
// 8 channels.
const float layouts[][2][Downmix::maxChannels] = {
    // 3: L C R
    {{f, c, 0}, {0, c, f}},
    // 4: FL FR RL RR
    {{f, 0, c, 0}, {0, f, 0, c}},
    // 5: FL C FR RL RR
    {{f, c, 0, c, 0}, {0, c, f, 0, c}},
    // 6: FL C FR RL RR LFE
    {{f, c, 0, c, 0, 0}, {0, c, f, 0, c, 0}},
    // 7: FL C FR SL SR RC LFE
    {{f, c, 0, c, 0, h, 0}, {0, c, f, 0, c, h, 0}},
    // 8: FL C FR SL SR RL RR LFE
    {{f, c, 0, c, 0, c, 0, 0}, {0, c, f, 0, c, 0, c, 0}},
};

void normalise(float* gains, int n)
{
    float sum = 0;
    for (int i = 0; i < n; ++i)
        sum += gains[i];
    for (int i = 0; i < n; ++i)
        gains[i] /= sum;
}

} // namespace

Downmix::Downmix(int channels) : _channels(channels), _used(2), _left{}, _right{}
{
    if (channels >= 3 && channels <= maxChannels) {
        const float(&gains)[2][maxChannels] = layouts[channels - 3];
        _used = channels;
        std::copy(gains[0], gains[0] + channels, _left);
        std::copy(gains[1], gains[1] + channels, _right);
        normalise(_left, channels);
        normalise(_right, channels);
    } else if (channels >= 1) {
        _used = std::min(channels, 2);
        _left[0] = 1;
        _right[_used - 1] = 1; // mono: the one channel on both sides
    } else {
        _used = 0; // no channels: silence
    }
}

void Downmix::mix(const float* const* in, int frames, float* left, float* right) const
{
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    for (int ch = 0; ch < _used; ++ch) {
        const float* x = in[ch];
        const float gl = _left[ch];
        const float gr = _right[ch];
        if (gl != 0)
            for (int i = 0; i < frames; ++i)
                left[i] += gl * x[i];
        if (gr != 0)
            for (int i = 0; i < frames; ++i)
                right[i] += gr * x[i];
    }
}

} // namespace Audio
