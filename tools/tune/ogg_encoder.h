#pragma once

#include <memory>
#include <vector>

namespace Tools {

struct EncoderState;

// Encodes float audio into one Ogg Vorbis logical stream in memory: the
// header pages first, audio pages as the encoder fills them, and the
// end-of-stream page at finish().
class OggEncoder {
public:
    // quality: libvorbisenc's VBR quality, -0.1 to 1.0. Throws
    // std::runtime_error when the encoder refuses the parameters.
    OggEncoder(int channels, long rate, float quality, int serial);
    ~OggEncoder();
    OggEncoder(const OggEncoder&) = delete;
    OggEncoder& operator=(const OggEncoder&) = delete;

    // Appends frames: one array per channel, `frames` samples each.
    void write(const float* const* channels, long frames);
    // Ends the stream; returns every byte encoded. No write afterwards.
    std::vector<unsigned char> finish();

    int channels() const { return _channels; }

private:
    void drain(bool flush);

    int _channels;
    std::unique_ptr<EncoderState> _state;
    std::vector<unsigned char> _bytes;
};

} // namespace Tools
