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
    // UnreadableError when it cannot be opened. The path is a local file,
    // whatever protocol its name begins with.
    explicit AudioFileDecoder(std::string path);
    ~AudioFileDecoder() override;

    bool read(std::vector<float>& samples) override;
    // Opens the file again, unless nothing was read yet: a pipe cannot be
    // opened twice.
    void rewind() override;
    bool live() const override { return false; }

    // Of the whole file, 0 when the container does not tell.
    double seconds() const;
    // Decodes up to the first audio, which the next read() hands out;
    // false when the file has none.
    bool holdsAudio();

private:
    void open();
    void close();
    bool decode(std::vector<float>& samples);
    bool feed(); // one packet of the stream to the decoder; false at the end

    std::string _path;
    AVFormatContext* _format = nullptr;
    AVCodecContext* _codec = nullptr;
    AVPacket* _packet = nullptr;
    AVFrame* _frame = nullptr;
    int _stream = -1;
    bool _inputEnded = false;
    bool _drained = false;
    bool _decoded = false;    // a frame came out since the file was opened
    bool _handedOut = false;  // read() gave samples since the file was opened
    std::vector<float> _held; // decoded by holdsAudio(), not read yet
    std::unique_ptr<StereoConverter> _converter;
};

} // namespace Send
