#pragma once

#include <chrono>

namespace Audio {

// Decides how long the library's audio thread holds each callback, so that
// a buffer goes to the sound server in one write instead of one piece for
// every request of the server.
//
// After each callback the audio thread writes the whole buffer to the
// server, waiting for room whenever the server's queue is full, and calls
// back as soon as the write is done. The server makes room in small steps,
// one request each (every 20 to 50 ms on PulseAudio, whatever the buffer),
// and each request wakes the audio thread for another piece of a buffer
// that does not fit. Held back instead, the callbacks come a little faster
// than the device plays, at a steady cadence, and each write finds room
// for its whole buffer, until the queue has filled up and a write waits
// once; the cadence then starts again from the end of that write, when the
// queue was full. Until a write has waited, the queue is filling from
// empty and no callback is held.
//
// Late callbacks (a busy machine) do not shift the cadence: the next ones
// come at once until it has caught up. The queue must take more than a
// buffer: the output opens its stream with room for two, so that what is
// queued still plays while a callback is held. Used by the audio thread
// only.
class OutputPacer {
public:
    using Clock = std::chrono::steady_clock;

    // period: the duration of one buffer; zero, or a short period, turns
    // holding off (the server's own steps would be as long as a hold, and
    // two buffers too little to play from while one is held).
    explicit OutputPacer(Clock::duration period);

    // A new stream: nothing is known of its queue.
    void restart();
    // At the start of a callback: the moment until which to hold it, `now`
    // when it should not wait.
    Clock::time_point holdUntil(Clock::time_point now);
    // At the end of a callback.
    void returned(Clock::time_point now);

private:
    Clock::duration _cadence;    // zero: never hold
    Clock::time_point _returned; // the end of the last callback
    Clock::time_point _due;      // when the last callback was to end its hold
    bool _started = false;       // a callback has returned since restart()
    bool _filled = false;        // a write has waited since restart()
};

} // namespace Audio
