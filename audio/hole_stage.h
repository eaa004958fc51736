#pragma once

#include <cstdint>
#include <memory>

namespace Audio {

// After a hole in the stream the decoding library goes on decoding before
// it knows where the new audio belongs: only the end of the next page
// tells. The frames decoded meanwhile wait here, so that the silence for
// what was lost can be played before them. Used by the decoding thread
// only; allocates once, when it is made, and its memory becomes resident
// only as far as frames are staged: a stream without holes never uses it.
class HoleStage {
public:
    // About three seconds at 44100 Hz: more than any page holds.
    static constexpr int capacity = 131072;

    HoleStage();

    // position: the link's position after the last frame before the hole.
    void begin(int64_t position);
    bool active() const { return _active; }
    int64_t holeAt() const { return _holeAt; }
    int frames() const { return _frames; }
    // False, taking nothing, when the frames do not fit.
    bool add(const float* left, const float* right, int frames);
    // What follows silence fades in over its first `frames` frames.
    void fadeIn(int frames);
    // The staged frames, per channel; they stay valid after clear(), until
    // the next add().
    float* channel(int c) { return c == 0 ? _left.get() : _right.get(); }
    // Ends the staging; frames() is 0 afterwards.
    void clear();

private:
    std::unique_ptr<float[]> _left, _right; // not initialised: written before read
    int _frames = 0;
    int64_t _holeAt = 0;
    bool _active = false;
};

// What precedes silence fades out over its last `frames` interleaved
// stereo frames, ending at `end`.
void fadeOutBefore(float* end, int frames);

} // namespace Audio
