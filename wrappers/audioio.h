#pragma once

#include "audio/format.h"
#include "audio/sink.h"
#include "wrappers/audio_library.h"
#include "wrappers/sdl_timer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RtAudio;

namespace Wrappers {

class StreamContext;

// One stereo float output stream at 44100 Hz. The caller fills the stream
// buffer with write() and hands it to the device with trigger(), which
// blocks until the device has taken it. Created, filled, triggered and
// destroyed by one thread; the device copies from its own thread.
class AudioIO : public Audio::Sink {
public:
    // framesPerBuffer is the size asked of the device; the underrun
    // threshold stays the duration of 8192 frames whatever is asked. The
    // output makes a library object of its own.
    explicit AudioIO(int framesPerBuffer = Audio::framesPerBuffer);
    // The same, with the library's object borrowed from `library` for the
    // output's life; `library` must outlive the output.
    explicit AudioIO(AudioLibrary& library, int framesPerBuffer = Audio::framesPerBuffer);
    ~AudioIO() override; // never throws
    AudioIO(const AudioIO&) = delete;
    AudioIO& operator=(const AudioIO&) = delete;

    void init(int outputChannels, int inputChannels);
    int bufSize() const override;
    // The interleaved stereo frames of the buffer being filled, from frame
    // offset on, for a producer that writes them in place (write() and
    // silence() too); valid until the next trigger().
    float* frameData(int offset) override;
    void read(float** channels);
    // Underrun test, then hands the buffer to the device and waits until it
    // asks again. Throws Utils::AudioTriggerError when the sound server
    // failed or took nothing for a few buffer periods. `meanwhile`, when
    // given, is called after the hand-over with a moment a little before
    // the device is expected to ask, and may use the time until then; the
    // wait for the device follows it.
    void trigger(const Meanwhile& meanwhile = {}) override;
    // Called on the filling thread; the device thread counts.
    DeviceClock deviceClock() const override;

private:
    AudioIO(AudioLibrary* library, int framesPerBuffer);
    unsigned int openFirstUsableDevice();
    bool tryOpen(unsigned int device, unsigned int& frames, std::vector<std::string>& failures);
    void pace();
    void start();
    bool drainAndStop();
    bool stopQuietly();
    void keepOrDropLibraryObject();
    void reportUnderrun();
    int stallLimitMs() const;
    [[noreturn]] void giveUp(const std::string& why);
    void closeInBackground();

    std::unique_ptr<AudioLibrary> _ownLibrary; // when none was given
    AudioLibrary& _library;
    // the two buffers and what guards them, shared with the device thread,
    // and the failures the library reports of the stream
    std::unique_ptr<StreamContext> _context;
    std::unique_ptr<RtAudio> _audio; // borrowed from _library
    int _nBuffers;
    int _bufferSize;
    float _bufferTime;
    uint32_t _lastTrigger;
    bool _firstTrigger;      // no trigger since init: nothing to measure from
    bool _abandoned = false; // the server failed or froze: close without waiting for it
    unsigned long _failuresAtStart = 0;
    Timer _timer;
};

} // namespace Wrappers
