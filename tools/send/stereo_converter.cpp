#include "send/stereo_converter.h"

#include "send/pcm_source.h"
#include "send/send_errors.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace Send {

StereoConverter::~StereoConverter()
{
    swr_free(&_swr);
    av_channel_layout_uninit(&_layout);
}

void StereoConverter::setUp(const AVFrame& frame)
{
    swr_free(&_swr);
    av_channel_layout_uninit(&_layout);
    // WAV and raw formats may not say which channel is which.
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&_layout, frame.ch_layout.nb_channels);
    else
        av_channel_layout_copy(&_layout, &frame.ch_layout);
    _format = frame.format;
    _rate = frame.sample_rate;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&_swr, &stereo, AV_SAMPLE_FMT_FLT, PcmSource::rate, &_layout,
                            static_cast<AVSampleFormat>(_format), _rate, 0, nullptr)
            < 0
        || swr_init(_swr) < 0) {
        swr_free(&_swr);
        throw NotAudioError("cannot convert audio of " + std::to_string(_layout.nb_channels) + " channels at "
                            + std::to_string(_rate) + " Hz");
    }
}

void StereoConverter::convert(const AVFrame& frame, std::vector<float>& out)
{
    if (!_swr || frame.format != _format || frame.sample_rate != _rate
        || frame.ch_layout.nb_channels != _layout.nb_channels)
        setUp(frame);
    const int planes = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame.format)) != 0
                           ? frame.ch_layout.nb_channels
                           : 1;
    _planes.assign(frame.extended_data, frame.extended_data + planes);
    run(_planes.data(), frame.nb_samples, out);
}

void StereoConverter::drain(std::vector<float>& out)
{
    if (_swr)
        run(nullptr, 0, out);
}

void StereoConverter::run(const uint8_t** in, int count, std::vector<float>& out)
{
    const int room = swr_get_out_samples(_swr, count);
    if (room <= 0)
        return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(room) * PcmSource::channels);
    auto* dest = reinterpret_cast<uint8_t*>(out.data() + at);
    const int made = swr_convert(_swr, &dest, room, in, count);
    out.resize(at + static_cast<size_t>(std::max(made, 0)) * PcmSource::channels);
}

} // namespace Send
