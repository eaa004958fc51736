#pragma once

#include "audio/output_pacer.h"
#include "audio/server_silence.h"
#include "audio/sink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace Audio {

// The hand-over of stereo buffers between the filling thread and the
// device thread of one output.
//
// The filler writes into back(), which only it touches, so it needs no
// lock. The device copies the front buffer under the lock. handOver()
// swaps the two once the device has copied the previous front, so a
// buffer handed over is never torn, never skipped and never played twice.
//
// handOver() returns once the device has asked for audio since its last
// return. While the filler keeps up, that is the copy of the buffer just
// handed over, so a buffer waits at most one period for the device. After
// a late refill the device has already asked (and played silence), so
// handOver() returns at once and the new front waits for the next request:
// from then on one buffer is queued ahead of the device, a period more
// latency and a period more slack for the filler. It never grows beyond
// one buffer, since handOver() first waits for the previous front's copy.
//
// A request that finds no fresh buffer plays silence: a late refill is a
// short gap, a stalled or ended stream is silent, and the last buffer is
// never repeated.
//
// Paced (PulseAudio), a request may first be held (see OutputPacer).
// There, the library's own loop also calls back in bursts (the start of a
// stream, catching up after a late callback), so while buffers come one
// after another a request that finds none fresh waits for it until a
// buffer period after the last one was copied: the filler keeps that long
// to refill. A stop ends every wait.
class Handover {
public:
    using Clock = std::chrono::steady_clock;

    explicit Handover(unsigned int frames);

    // Filling thread, while the stream does not run.
    void resize(unsigned int frames);
    unsigned int frames() const { return _frames; }
    Clock::duration period() const;
    // Filling thread, before the start: whether the device's requests are
    // held and may wait for the filler.
    void pace(bool paced);
    // Filling thread: the stream starts (from a clock of zero, nothing
    // handed over) or stops; a stop ends every wait, the device's too.
    void setRunning(bool running);

    // Filling thread: the buffer being filled, valid until the next
    // handOver().
    float* back() const { return _back; }
    // Filling thread: swaps the filled buffer in and waits until the device
    // asks again; false when it has not by `deadline` (a device that no
    // longer asks). `meanwhile`, when given, is called after the swap with
    // a moment a little before the device is expected to ask, and may use
    // the time until then; the first hand-over after the start does not
    // use it. A stop ends the wait with true.
    bool handOver(Clock::time_point deadline, const Sink::Meanwhile& meanwhile);
    // Filling thread: plays out the last buffer handed over, then stops.
    // A device writes what it copied only after its request returns, and
    // the library's stop waits for a write under way, so the drain hands
    // silence over after the last buffer and returns once the device asks
    // again after copying that: both writes have ended. False when that
    // has not happened by `deadline`: a device that stopped asking, or a
    // sound server that froze and takes no write.
    bool drain(Clock::time_point deadline);
    // Filling thread; the device counts.
    Sink::DeviceClock deviceClock() const;

    // Device thread: one request, `frames` interleaved frames into `out`:
    // the fresh buffer, or silence where there is none.
    void deliver(float* out, unsigned int frames);

private:
    using Lock = std::unique_lock<std::mutex>;

    void notifyEveryone();
    bool waitForCopy(Lock& lock, Clock::time_point deadline);
    bool waitForRequestAfterCopy(Lock& lock, Clock::time_point deadline);
    void swapIn();
    void useTimeUntilRequest(Lock& lock, const Sink::Meanwhile& meanwhile);
    void waitForTurn(Lock& lock);
    unsigned int copy(float* out, unsigned int frames, unsigned long request);
    void count(unsigned int frames, unsigned int copied);

    mutable std::mutex _mutex;
    // One condition for each kind of waiter, so that a change wakes only
    // the thread that waits for it: a buffer handed over must not wake the
    // device thread while it holds a request. A stop wakes all three.
    std::condition_variable _asked;      // the filler: the device asked, or copied a buffer
    std::condition_variable _handedOver; // the device: a fresh buffer, waited for
    std::condition_variable _stopped;    // the device: holding a request, which only a stop ends
    std::vector<float> _first;
    std::vector<float> _second;
    float* _front = nullptr;
    float* _back = nullptr;
    unsigned int _frames = 0;
    bool _fresh = false;           // the front was handed over and not copied yet
    bool _taken = false;           // the device asked since handOver() last returned
    bool _running = false;         // the stream runs; waits end when it does not
    bool _paced = false;           // requests are held and may wait for the filler
    bool _flowing = false;         // the last request copied a buffer handed over
    bool _firstSinceStart = false; // no hand-over since the start
    bool _draining = false;        // the filler waits for the device's next request
    bool _everCopied = false;      // a buffer was copied since the start
    unsigned long _requests = 0;   // requests begun
    unsigned long _copiedBy = 0;   // the request that copied the front last
    Clock::time_point _lastCopied;
    Clock::time_point _askedAt; // the device's latest request
    Sink::DeviceClock _clock;   // what the device asked for, for the filler to time against
    OutputPacer _pacer{Clock::duration::zero()};
    ServerSilence _serverSilence;
};

} // namespace Audio
