#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace TestHelpers {

// Records the monitor of the test null sink ($VELDRANE_SINK, default
// veldrane_null) with parec as a child process, into memory: interleaved
// stereo float32 frames at 44100 Hz, bit-exact with what was played when
// the sink stores float32.
//
//   SinkRecorder rec;
//   rec.start();                 // returns once the capture delivers data
//   ... play ...
//   rec.waitForSound(frames, 5s) // optional: until enough sound arrived
//   rec.stop();
//   compareWithReference(rec.samples(), reference)
class SinkRecorder {
public:
    SinkRecorder();
    // Records the monitor of another sink of the sound server's.
    explicit SinkRecorder(std::string sink);
    ~SinkRecorder(); // stops a running capture
    SinkRecorder(const SinkRecorder&) = delete;
    SinkRecorder& operator=(const SinkRecorder&) = delete;

    // Starts parec and waits (at most 5 s) until its first bytes arrive, so
    // that whatever is played after start() returns is in the recording.
    // Throws std::runtime_error when parec cannot start or stays silent.
    void start();
    // Ends parec and collects what it wrote. Safe to call twice.
    void stop();

    // Frames recorded so far; callable while recording.
    std::size_t frames() const;
    // Frames recorded since the first non-zero frame; callable while
    // recording.
    std::size_t soundFrames() const;
    // Waits until at least `frames` frames have been recorded since the
    // first non-zero frame, or the timeout passes; returns whether they
    // were. Waiting a little beyond the end of the sound is the caller's
    // business (the capture's own latency is about 20 ms).
    bool waitForSound(std::size_t frames, std::chrono::milliseconds timeout) const;

    // Interleaved stereo samples recorded so far (a copy).
    std::vector<float> samples() const;

    // When a recorded frame passed the monitor, estimated as the arrival of
    // the read that brought it less the duration of the frames after it in
    // that read. Off by the capture latency, which is the same for every
    // frame, so differences between two recordings' figures are sound.
    std::chrono::steady_clock::time_point frameTime(std::size_t frame) const;

    static std::string sinkName();

private:
    void readLoop(int fd);

    std::string _sink;
    pid_t _pid = -1;
    std::thread _reader;
    mutable std::mutex _mutex;
    std::vector<float> _samples;
    std::vector<unsigned char> _partial;                    // bytes of an incomplete sample
    std::size_t _firstSound = static_cast<std::size_t>(-1); // frame index
    // Frames recorded after each read, and when that read returned.
    std::vector<std::pair<std::size_t, std::chrono::steady_clock::time_point>> _reads;
};

// Result of finding a reference signal in a recording.
struct Comparison {
    bool found = false;             // the reference's onset was located
    std::size_t offset = 0;         // recording frame where reference frame 0 sits
    std::size_t framesCompared = 0; // reference frames that lie inside the recording
    std::size_t referenceFrames = 0;
    double snrDb = 0; // over the compared frames; infinity when bit-exact
    // True when every reference frame is in the recording, in order, at
    // offset + its index, within the tolerance: nothing missing, repeated
    // or inserted inside the span.
    bool contiguous = false;
    long firstMismatch = -1; // reference frame index, -1 when none
    std::size_t mismatchedFrames = 0;

    // Every reference frame present, in order, with identical samples.
    bool bitExact() const;
    std::string describe() const; // one line for test failure messages
};

struct CompareOptions {
    // Largest absolute difference per sample that still counts as the same
    // frame; 0 demands bit-exact samples.
    float tolerance = 0.0f;
    // The first non-zero frames give the offset; for lossy references it
    // is refined within +/- this many frames by least squared error.
    std::size_t searchRadius = 0;
};

// Finds where `reference` (interleaved stereo) starts in `recording`
// (interleaved stereo, starting with exact zeros as a capture does) by
// aligning their first non-zero frames, then compares frame by frame.
// Leading zeros of the reference are kept in the alignment, so a reference
// that starts with silence is matched at its true start.
Comparison compareWithReference(const std::vector<float>& recording, const std::vector<float>& reference,
                                const CompareOptions& options = CompareOptions());

// Index of the first frame with a non-zero sample, or npos.
std::size_t firstNonZeroFrame(const std::vector<float>& interleaved, std::size_t fromFrame = 0);

} // namespace TestHelpers
