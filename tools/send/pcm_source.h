#pragma once

#include "audio/format.h"

#include <vector>

namespace Send {

// Audio to encode: interleaved float stereo at 44100 Hz, from a decoded file
// or from the sound server.
class PcmSource {
public:
    static constexpr long rate = Audio::sampleRate;
    static constexpr int channels = Audio::channels;

    PcmSource() = default;
    virtual ~PcmSource() = default;
    PcmSource(const PcmSource&) = delete;
    PcmSource& operator=(const PcmSource&) = delete;

    // Replaces samples with the next frames (none is allowed); false at the
    // end. Throws std::runtime_error on a read or decode error.
    virtual bool read(std::vector<float>& samples) = 0;
    // From the beginning again; a live source drops what it holds instead.
    virtual void rewind() = 0;
    // Live audio is sent as soon as it is encoded, in small pages.
    virtual bool live() const = 0;
};

} // namespace Send
