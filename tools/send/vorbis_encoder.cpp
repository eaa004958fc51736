#include "send/vorbis_encoder.h"

#include "send/send_errors.h"

#include <vorbis/vorbisenc.h>

#include <stdexcept>
#include <utility>

namespace Send {

VorbisEncoder::VorbisEncoder(long rate, int channels, double quality, const char* encoder, Sink sink)
    : _channels(channels), _sink(std::move(sink))
{
    vorbis_info_init(&_info);
    if (channels < 1
        || vorbis_encode_init_vbr(&_info, channels, rate, static_cast<float>(quality / 10)) != 0) {
        vorbis_info_clear(&_info);
        throw EncoderError("the Vorbis encoder refuses quality " + std::to_string(quality));
    }
    vorbis_comment_init(&_comment);
    if (encoder)
        vorbis_comment_add_tag(&_comment, "ENCODER", encoder);
    vorbis_analysis_init(&_dsp, &_info);
    vorbis_block_init(&_dsp, &_block);

    ogg_packet headers[3];
    vorbis_analysis_headerout(&_dsp, &_comment, &headers[0], &headers[1], &headers[2]);
    for (ogg_packet& h : headers)
        _sink({h.packet, static_cast<size_t>(h.bytes), 0, false});
}

VorbisEncoder::~VorbisEncoder()
{
    vorbis_block_clear(&_block);
    vorbis_dsp_clear(&_dsp);
    vorbis_comment_clear(&_comment);
    vorbis_info_clear(&_info);
}

void VorbisEncoder::write(const std::vector<float>& interleaved)
{
    const auto channels = static_cast<size_t>(_channels);
    const size_t frames = interleaved.size() / channels;
    if (frames == 0)
        return;
    float** buffer = vorbis_analysis_buffer(&_dsp, static_cast<int>(frames));
    for (size_t i = 0; i < frames; ++i)
        for (size_t ch = 0; ch < channels; ++ch)
            buffer[ch][i] = interleaved[i * channels + ch];
    vorbis_analysis_wrote(&_dsp, static_cast<int>(frames));
    drain();
}

void VorbisEncoder::finish()
{
    vorbis_analysis_wrote(&_dsp, 0);
    drain();
}

void VorbisEncoder::drain()
{
    ogg_packet packet;
    while (vorbis_analysis_blockout(&_dsp, &_block) == 1) {
        vorbis_analysis(&_block, nullptr);
        vorbis_bitrate_addblock(&_block);
        while (vorbis_bitrate_flushpacket(&_dsp, &packet) == 1)
            _sink({packet.packet, static_cast<size_t>(packet.bytes), packet.granulepos, packet.e_o_s != 0});
    }
}

} // namespace Send
