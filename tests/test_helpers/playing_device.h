#pragma once

#include "audio/handover.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace TestHelpers {

// The device side of an Audio::Handover without a sound server: a thread
// that makes the device's requests, each of the hand-over's frames, either
// one for each step() of the test or one every `period`, and keeps what
// each request got. Buffers are told apart by a value that fills them
// whole (see fill()); a request that played silence got 0.
//
// Stop the hand-over before the device ends when a request may be held.
class PlayingDevice {
public:
    // Requests as the test steps them.
    explicit PlayingDevice(Audio::Handover& handover);
    // A request every `period`, from now on.
    PlayingDevice(Audio::Handover& handover, std::chrono::microseconds period);
    ~PlayingDevice();
    PlayingDevice(const PlayingDevice&) = delete;
    PlayingDevice& operator=(const PlayingDevice&) = delete;

    // The filler's side: fills the back buffer with `value`.
    static void fill(Audio::Handover& handover, float value);

    // One more request, made once `pause` of the device's own has passed
    // since the last one returned (a pause lets the hand-over's pacer see a
    // full queue).
    void step(std::chrono::microseconds pause = std::chrono::microseconds::zero());
    // Steps one request at a time until one gets the buffer of `value`;
    // whether that happened within `timeout`. For the first hand-over after
    // a start, which lets the requests before it go by.
    bool stepUntilPlayed(float value, std::chrono::milliseconds timeout);
    // Requests returned so far, the stream's start included.
    int returned() const;
    // Whether `count` requests (as returned() counts) have returned within
    // `timeout`.
    bool waitForReturned(int count, std::chrono::milliseconds timeout) const;
    // Whether every step so far has returned within `timeout`: a filler is
    // let go while its buffer is copied, before the request returns.
    bool waitForSteps(std::chrono::milliseconds timeout) const;
    // Whether `count` requests have been made (returned or not) within
    // `timeout`.
    bool waitForStarted(int count, std::chrono::milliseconds timeout) const;
    // What each returned request got, in order: the value of its buffer, 0
    // for silence, -1 for a buffer that was not one value whole (torn).
    // Without the silence before the first buffer: the stream's start.
    std::vector<float> played() const;

private:
    void run();
    bool nextRequest(std::unique_lock<std::mutex>& lock);
    void request();

    Audio::Handover& _handover;
    const bool _stepped;
    const std::chrono::microseconds _period;
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    int _steps = 0;
    std::vector<std::chrono::microseconds> _pauses;
    int _started = 0;
    std::vector<float> _played;
    bool _quit = false;
    std::chrono::steady_clock::time_point _due;
    std::vector<float> _out;
    std::thread _thread; // last: it uses all of the above
};

} // namespace TestHelpers
