#include "tune/ogg_encoder.h"

#include "tune/encoder_state.h"

#include <stdexcept>

namespace Tools {

OggEncoder::OggEncoder(int channels, long rate, float quality, int serial)
    : _channels(channels), _state(std::make_unique<EncoderState>())
{
    EncoderState& s = *_state;
    vorbis_info_init(&s.info);
    if (channels < 1 || vorbis_encode_init_vbr(&s.info, channels, rate, quality) != 0) {
        vorbis_info_clear(&s.info);
        throw std::runtime_error("OggEncoder: the encoder refuses these parameters");
    }
    vorbis_comment_init(&s.comment);
    vorbis_analysis_init(&s.dsp, &s.info);
    vorbis_block_init(&s.dsp, &s.block);
    ogg_stream_init(&s.stream, serial);

    ogg_packet header, comment, codebooks;
    vorbis_analysis_headerout(&s.dsp, &s.comment, &header, &comment, &codebooks);
    ogg_stream_packetin(&s.stream, &header);
    ogg_stream_packetin(&s.stream, &comment);
    ogg_stream_packetin(&s.stream, &codebooks);
    // Audio starts on a page of its own, as decoders expect.
    drain(true);
}

OggEncoder::~OggEncoder()
{
    EncoderState& s = *_state;
    ogg_stream_clear(&s.stream);
    vorbis_block_clear(&s.block);
    vorbis_dsp_clear(&s.dsp);
    vorbis_comment_clear(&s.comment);
    vorbis_info_clear(&s.info);
}

void OggEncoder::write(const float* const* channels, long frames)
{
    EncoderState& s = *_state;
    for (long done = 0; done < frames;) {
        const int n = static_cast<int>(std::min(frames - done, 4096L));
        float** buffer = vorbis_analysis_buffer(&s.dsp, n);
        for (int ch = 0; ch < _channels; ++ch)
            std::copy(channels[ch] + done, channels[ch] + done + n, buffer[ch]);
        vorbis_analysis_wrote(&s.dsp, n);
        done += n;
        drain(false);
    }
}

std::vector<unsigned char> OggEncoder::finish()
{
    vorbis_analysis_wrote(&_state->dsp, 0);
    drain(true);
    return std::move(_bytes);
}

void OggEncoder::drain(bool flush)
{
    EncoderState& s = *_state;
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&s.dsp, &s.block) == 1) {
        vorbis_analysis(&s.block, nullptr);
        vorbis_bitrate_addblock(&s.block);
        while (vorbis_bitrate_flushpacket(&s.dsp, &packet) == 1)
            ogg_stream_packetin(&s.stream, &packet);
    }
    while (flush ? ogg_stream_flush(&s.stream, &page) : ogg_stream_pageout(&s.stream, &page)) {
        _bytes.insert(_bytes.end(), page.header, page.header + page.header_len);
        _bytes.insert(_bytes.end(), page.body, page.body + page.body_len);
    }
}

} // namespace Tools
