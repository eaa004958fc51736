#pragma once

#include <vorbis/codec.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace Send {

// libvorbisenc's encoder for one logical stream of float stereo: the three
// header packets at once, then audio packets as blocks fill.
class VorbisEncoder {
public:
    struct Packet {
        const unsigned char* data;
        size_t size;
        int64_t granule;
        bool eos;
    };
    using Sink = std::function<void(const Packet&)>;

    // quality: 0 to 10, as oggenc's. Throws std::runtime_error when the
    // library refuses it. The header packets go to sink at once.
    VorbisEncoder(long rate, int channels, double quality, Sink sink);
    ~VorbisEncoder();
    VorbisEncoder(const VorbisEncoder&) = delete;
    VorbisEncoder& operator=(const VorbisEncoder&) = delete;

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
