#pragma once

#include <cstdint>

namespace Audio {

// Keeps account of what a run played: the stream's frames and the
// stretches of silence between them, told apart by cause. Silence the
// device played because data came late is late data, unless the stream
// then shows that the audio of that stretch was lost: then it counts as
// lost audio, and only what the loss needs beyond it is played as
// silence, so that what follows is heard at its own time. A stretch counts
// once the stream is heard again: silence after its end is no gap. Frames
// are at the output's rate. Used by the decoding thread only.
class GapLedger {
public:
    struct Totals {
        int64_t played = 0; // frames of the stream
        long gaps = 0;      // stretches of silence between them
        int64_t lateFrames = 0;
        int64_t lostFrames = 0;
    };

    void reset() { *this = GapLedger(); }
    void played(int64_t frames);
    // Silence played for want of data.
    void starved(int64_t frames);
    // Silence the sound server played on its own, in `gaps` stretches:
    // late data too, but found only afterwards, so it stands apart from
    // the silence that lost audio needs.
    void serverSilence(int64_t frames, long gaps);
    // `frames` of the stream are missing before what comes next: returns
    // how many frames of silence to play for them now.
    int64_t missing(int64_t frames);
    // Silence played since the stream's last frame, and of it what lost
    // audio does not explain.
    int64_t silenceSinceAudio() const { return _late + _lost; }
    int64_t lateSinceAudio() const { return _late; }
    const Totals& totals() const { return _totals; }

private:
    Totals _totals;
    int64_t _late = 0; // since the stream's last frame
    int64_t _lost = 0;
};

} // namespace Audio
