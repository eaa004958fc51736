#pragma once

#include "test_helpers/ogg_maker.h"

#include <string>
#include <vector>

namespace TestHelpers {

// Audio files made by FFmpeg's command line, for the sender's tests: a
// stereo chirp (each side rising at its own pace, so that a recording
// aligns with it at one offset only) encoded by the encoder FFmpeg picks for
// the file's extension. Removed by the destructor. Throws
// std::runtime_error when ffmpeg fails.
class MediaFile {
public:
    MediaFile(const std::string& extension, double seconds);
    // The given audio (any format FFmpeg reads) re-encoded, for a signal of
    // the caller's, e.g. one with the bit rate of music.
    MediaFile(const std::string& extension, const Bytes& audio);
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    const std::string& path() const { return _path; }

    // The file as FFmpeg itself decodes it: interleaved float stereo at
    // 44100 Hz.
    std::vector<float> decode() const;

private:
    std::string _path;
};

// An Ogg stream as GStreamer's demuxer reads one it cannot seek in, as from
// a socket (fdsrc ! oggdemux ! vorbisdec): its raw float output, empty when
// the pipeline fails.
Bytes decodedByGStreamer(const Bytes& stream);

} // namespace TestHelpers
