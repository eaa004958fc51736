#pragma once

#include "send/pcm_source.h"
#include "send/stereo_converter.h"

#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace Send {

// An audio file of any format FFmpeg reads (MP3, FLAC, WAV, AIFF, Opus,
// AAC/M4A, Vorbis...), decoded with libavformat and libavcodec: its best
// audio stream as float stereo at 44100 Hz.
class AudioFileDecoder : public PcmSource {
public:
    // Throws NotAudioError when the file holds no audio FFmpeg decodes,
    // std::runtime_error when it cannot be opened.
    explicit AudioFileDecoder(std::string path);
    ~AudioFileDecoder() override;

    bool read(std::vector<float>& samples) override;
    void rewind() override;
    bool live() const override { return false; }

    // Of the whole file, 0 when the container does not tell.
    double seconds() const;

private:
    void open();
    void close();
    bool feed(); // one packet of the stream to the decoder; false at the end

    std::string _path;
    AVFormatContext* _format = nullptr;
    AVCodecContext* _codec = nullptr;
    AVPacket* _packet = nullptr;
    AVFrame* _frame = nullptr;
    int _stream = -1;
    bool _inputEnded = false;
    bool _drained = false;
    std::unique_ptr<StereoConverter> _converter;
};

} // namespace Send
