#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <vector>

struct SwrContext;

namespace Send {

// libswresample: decoded frames of any layout, format and rate to float
// stereo at 44100 Hz (more channels are folded down, mono goes to both
// sides). Set up from the first frame, and again when frames change.
class StereoConverter {
public:
    StereoConverter() = default;
    ~StereoConverter();
    StereoConverter(const StereoConverter&) = delete;
    StereoConverter& operator=(const StereoConverter&) = delete;

    // Appends the frame's audio to out.
    void convert(const AVFrame& frame, std::vector<float>& out);
    // Appends what the resampler still holds.
    void drain(std::vector<float>& out);

private:
    void setUp(const AVFrame& frame);
    void run(const uint8_t** in, int count, std::vector<float>& out);

    SwrContext* _swr = nullptr;
    AVChannelLayout _layout{};
    int _format = -1;
    int _rate = 0;
    std::vector<const uint8_t*> _planes; // of the frame being converted
};

} // namespace Send
