#include "send/audio_file_decoder.h"

#include "send/send_errors.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <utility>

namespace Send {

namespace {

std::string avText(int error)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, buf, sizeof buf);
    return buf;
}

} // namespace

AudioFileDecoder::AudioFileDecoder(std::string path) : _path(std::move(path))
{
    // Our own one-line messages say what failed; FFmpeg's would add more.
    av_log_set_level(AV_LOG_QUIET);
    open();
}

AudioFileDecoder::~AudioFileDecoder()
{
    close();
}

void AudioFileDecoder::open()
{
    try {
        // A name is a local file, never a URL ("http:", "concat:" ...), and
        // a playlist in it cannot make FFmpeg fetch what no one named.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        int r = avformat_open_input(&_format, ("file:" + _path).c_str(), nullptr, &options);
        av_dict_free(&options);
        if (r == AVERROR(ENOENT) || r == AVERROR(EACCES) || r == AVERROR(EISDIR))
            throw UnreadableError("cannot open " + _path + ": " + avText(r));
        if (r < 0)
            throw NotAudioError(_path + " holds no audio that can be decoded (" + avText(r) + ")");
        if (avformat_find_stream_info(_format, nullptr) < 0)
            throw NotAudioError(_path + " holds no audio that can be decoded (no stream found)");
        const AVCodec* decoder = nullptr;
        _stream = av_find_best_stream(_format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (_stream < 0 || !decoder)
            throw NotAudioError(_path + " holds no audio that can be decoded (no audio stream)");
        _codec = avcodec_alloc_context3(decoder);
        _packet = av_packet_alloc();
        _frame = av_frame_alloc();
        if (!_codec || !_packet || !_frame)
            throw std::bad_alloc();
        if (avcodec_parameters_to_context(_codec, _format->streams[_stream]->codecpar) < 0
            || avcodec_open2(_codec, decoder, nullptr) < 0)
            throw NotAudioError(_path + " holds no audio that can be decoded (the "
                                + std::string(decoder->name) + " decoder refuses it)");
    } catch (...) {
        close();
        throw;
    }
    _inputEnded = false;
    _decoded = false;
    _handedOut = false;
    _held.clear();
    _drained = false;
    _converter = std::make_unique<StereoConverter>();
}

void AudioFileDecoder::close()
{
    av_frame_free(&_frame);
    av_packet_free(&_packet);
    avcodec_free_context(&_codec);
    avformat_close_input(&_format);
    _converter.reset();
}

bool AudioFileDecoder::holdsAudio()
{
    bool more = true;
    while (_held.empty() && more)
        more = decode(_held);
    return !_held.empty();
}

bool AudioFileDecoder::read(std::vector<float>& samples)
{
    _handedOut = true;
    if (_held.empty())
        return decode(samples);
    samples.swap(_held);
    _held.clear();
    return true;
}

bool AudioFileDecoder::decode(std::vector<float>& samples)
{
    samples.clear();
    if (_drained)
        return false;
    for (;;) {
        int r = avcodec_receive_frame(_codec, _frame);
        if (r == 0) {
            _decoded = true;
            _converter->convert(*_frame, samples);
            av_frame_unref(_frame);
            return true;
        }
        if (r == AVERROR_EOF) {
            _converter->drain(samples);
            _drained = true;
            return true;
        }
        if (r != AVERROR(EAGAIN) && _decoded)
            throw UnreadableError("cannot decode " + _path + " on: " + avText(r));
        if (r != AVERROR(EAGAIN))
            throw NotAudioError("cannot decode " + _path + ": " + avText(r));
        if (!feed())
            avcodec_send_packet(_codec, nullptr);
    }
}

bool AudioFileDecoder::feed()
{
    while (!_inputEnded) {
        int r = av_read_frame(_format, _packet);
        if (r == AVERROR_EOF) {
            _inputEnded = true;
            return false;
        }
        if (r < 0)
            throw UnreadableError("cannot read " + _path + ": " + avText(r));
        // A damaged packet is skipped: the decoder picks up at the next one.
        if (_packet->stream_index == _stream)
            r = avcodec_send_packet(_codec, _packet);
        av_packet_unref(_packet);
        if (r >= 0)
            return true;
    }
    return false;
}

void AudioFileDecoder::rewind()
{
    if (!_handedOut)
        return;
    close();
    open();
}

double AudioFileDecoder::seconds() const
{
    return _format->duration > 0 ? static_cast<double>(_format->duration) / AV_TIME_BASE : 0;
}

} // namespace Send
