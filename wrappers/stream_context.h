#pragma once

#include "audio/handover.h"

#include <atomic>

namespace Wrappers {

// What one output's stream shares with the library's threads: the
// hand-over its device thread delivers from, and the failures the library
// reports of it. RtAudio 5's error callback is a plain function with no
// context, so a thread that calls into a stream first says which output it
// acts for (Acting; the stream's own device thread at each request), and a
// report is charged to that output alone: an output given up on, whose
// closer or device thread reports a failure later, costs the next one
// nothing. Outlives its output when a closer takes it.
class StreamContext {
public:
    // The calling thread acts for `context` while this lives.
    class Acting {
    public:
        explicit Acting(StreamContext& context);
        ~Acting();
        Acting(const Acting&) = delete;
        Acting& operator=(const Acting&) = delete;

    private:
        StreamContext* _previous;
    };

    explicit StreamContext(unsigned int frames);

    // The owner's thread, and the device thread through deliver().
    Audio::Handover& handover() { return _handover; }
    // Any thread: the failures charged to this output so far.
    unsigned long failures() const { return _failures; }

    // Device thread, for each request. The thread is the stream's own, so it
    // acts for this output from then on.
    void deliver(float* out, unsigned int frames);
    // Any thread, from the library's error callback: one failure of the
    // output the calling thread acts for, if any.
    static void chargeCallingThread();

private:
    Audio::Handover _handover;
    std::atomic<unsigned long> _failures{0};
};

} // namespace Wrappers
