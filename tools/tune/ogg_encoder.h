#pragma once

#include "send/vorbis_encoder.h"

#include <ogg/ogg.h>

#include <memory>
#include <vector>

namespace Tools {

// Encodes float audio into one Ogg Vorbis logical stream in memory: the
// header pages first, audio pages as the encoder fills them, and the
// end-of-stream page at finish().
class OggEncoder {
public:
    // quality: 0 to 10, as the sender's (Send::VorbisEncoder). Throws
    // Send::EncoderError when the encoder refuses the parameters.
    OggEncoder(int channels, long rate, double quality, int serial);
    ~OggEncoder();
    OggEncoder(const OggEncoder&) = delete;
    OggEncoder& operator=(const OggEncoder&) = delete;

    // Appends frames: one array per channel, `frames` samples each.
    void write(const float* const* channels, long frames);
    // Ends the stream; returns every byte encoded. No write afterwards.
    std::vector<unsigned char> finish();

    int channels() const { return _channels; }

private:
    void onPacket(const Send::VorbisEncoder::Packet& packet);
    void pageOut(bool flush);

    int _channels;
    ogg_stream_state _stream{};
    std::unique_ptr<Send::VorbisEncoder> _encoder;
    std::vector<unsigned char> _bytes;
};

} // namespace Tools
