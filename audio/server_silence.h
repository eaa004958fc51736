#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace Audio {

// Finds the silence a sound server played on its own: when what it was
// given reached it too late (the server or the device's thread was held up
// for longer than its queue lasts), it plays silence, and after that the
// device asks for every frame that much later than before. Nothing else
// tells the receiver that the listener heard a gap.
//
// How far the frames asked for run ahead of this machine's clock is
// bounded above by the server's queue: a request comes only once a write
// has found room. The highest lead of each second of requests is that
// bound, steady to a millisecond or two; late wake-ups only ever lower a
// lead. When that bound falls and stays down, the device's clock ran on
// without asking: silence of that length. A fall over a single second is
// a busy machine, not yet silence; a slow slide is the two clocks
// differing, and is followed. Used by the device thread only; allocates
// nothing.
class ServerSilence {
public:
    using Clock = std::chrono::steady_clock;

    // A new stream: nothing is known of its queue.
    void restart();
    struct Found {
        int64_t frames = 0;  // of silence found now
        bool newGap = false; // a silence of its own, not more of the last
    };
    // At the start of a request, before anything holds it: `frames` asked
    // for since the stream started.
    Found asked(Clock::time_point now, int64_t frames);

private:
    void closeWindow();

    Clock::time_point _origin;
    bool _started = false;
    int64_t _windowFrom = 0;         // frames asked for when the window began
    double _windowLead = 0;          // highest lead in the window, in seconds
    std::array<double, 3> _recent{}; // the last windows' highest leads
    int _windows = 0;                // windows closed since restart()
    double _bound = 0;               // the queue's bound on the lead, as known
    int _settling = 0;               // windows in which a silence found may still grow
    double _found = 0;               // seconds of silence found, not yet returned
    bool _newGap = false;            // they begin a silence of their own
};

} // namespace Audio
