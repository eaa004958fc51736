#pragma once

namespace Audio {

// Folds the channels of a Vorbis link into stereo. Channels come in the
// Vorbis order (front left, centre, front right, surrounds, rears, LFE);
// centre and surround channels join both or their own side at -3 dB, a rear
// centre joins both sides at -6 dB, and LFE is left out, as is usual when
// folding down for two speakers. Each side's gains add up to 1, so full
// scale in gives at most full scale out: nothing clips. Links of more than
// eight channels have no defined layout; their first two channels play.
class Downmix {
public:
    static constexpr int maxChannels = 8;

    explicit Downmix(int channels = 2);

    int channels() const { return _channels; }
    void mix(const float* const* in, int frames, float* left, float* right) const;

private:
    int _channels;
    int _used; // channels that contribute
    float _left[maxChannels];
    float _right[maxChannels];
};

} // namespace Audio
