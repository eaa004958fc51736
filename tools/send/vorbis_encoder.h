#pragma once

#include <vorbis/codec.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace Send {

// libvorbisenc's encoder for one logical stream of float audio: the three
// header packets at once, then audio packets as blocks fill. The one
// wrapper of the library: the sender and the demo tune both encode here.
class VorbisEncoder {
public:
    struct Packet {
        unsigned char* data; // the library's, as libogg takes it: not to be written
        size_t size;
        int64_t granule;
        bool eos;
    };
    using Sink = std::function<void(const Packet&)>;

    // quality: 0 to 10, as oggenc's. encoder: the ENCODER comment, none
    // when null. Throws EncoderError when the library refuses the
    // settings. The header packets go to sink at once.
    VorbisEncoder(long rate, int channels, double quality, const char* encoder, Sink sink);
    ~VorbisEncoder();
    VorbisEncoder(const VorbisEncoder&) = delete;
    VorbisEncoder& operator=(const VorbisEncoder&) = delete;

    // Frames of all channels, interleaved.
    void write(const std::vector<float>& interleaved);
    // Ends the stream: the last packets, the last one marked end of stream.
    void finish();

private:
    void drain();

    int _channels;
    Sink _sink;
    vorbis_info _info{};
    vorbis_comment _comment{};
    vorbis_dsp_state _dsp{};
    vorbis_block _block{};
};

} // namespace Send
