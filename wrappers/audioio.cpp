#include "wrappers/audioio.h"

#include "audio/format.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/output_pacer.h"

#include <RtAudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Wrappers {

namespace {

constexpr unsigned int sampleRate = Audio::sampleRate;
constexpr int channelCount = Audio::channels;
constexpr int thresholdFrames = Audio::framesPerBuffer;
// Buffer periods the device may take nothing before trigger() gives up on
// the sound server.
constexpr int stallPeriods = 4;

// Interleaved samples in `frames` frames, for offsets into a buffer.
std::ptrdiff_t samples(long frames)
{
    return std::ptrdiff_t{channelCount} * frames;
}

// Reports from the library's error callback since the process started.
// The callback gets no context, but only one output plays at a time, so an
// output that sees the count move knows that its own stream failed.
std::atomic<unsigned long> streamFailures{0};

// RtAudio 5 reports every error of an open stream here instead of
// throwing, from the owner's thread or from its audio thread. A dead
// server makes the audio thread report the same failure on every loop, so
// a message is printed only when it differs from the one before.
void cbError(RtAudioError::Type, const std::string& text)
{
    ++streamFailures;
    try {
        static std::mutex mutex;
        static std::string last;
        std::lock_guard<std::mutex> lock(mutex);
        if (text == last)
            return;
        last = text;
        Utils::printErr(text + "\n");
    } catch (...) {
    }
}

} // namespace

// The hand-over between the filling thread and the device thread.
//
// write(), silence() and read() use `back`, which only the filling thread
// touches, so they need no lock. The device copies `front` under `mutex`.
// trigger() swaps the two pointers under `mutex`, once the device has
// copied the previous front (`fresh` cleared), so a buffer handed over is
// never torn, never skipped and never played twice.
//
// trigger() returns once the device has asked for audio since its last
// return. While the filler keeps up, that is the copy of the buffer just
// handed over, so a buffer waits at most one period for the device. After a
// late refill the device has already asked (and played silence), so
// trigger() returns at once and the new front waits for the next callback:
// from then on one buffer is queued ahead of the device, a period more
// latency and a period more slack for the filler. It never grows beyond
// one buffer, since trigger() first waits for the previous front's copy.
//
// A callback that finds no fresh buffer plays silence: a late refill is a
// short gap, a stalled or ended stream is silent, and the last buffer is
// never repeated.
//
// On PulseAudio a callback may first be held (see OutputPacer). There, the
// library's own loop also calls back in bursts (the start of a stream,
// catching up after a late callback), so while buffers come one after
// another a callback that finds none fresh waits for it until a buffer
// period after the last one was copied: the filler keeps that long to
// refill. A stop ends every wait.
struct AudioIO::Exchange {
    using Clock = std::chrono::steady_clock;

    std::mutex mutex;
    // One condition for each kind of waiter, so that a change wakes only
    // the thread that waits for it: a buffer handed over must not wake the
    // device thread while it holds a callback. A stop wakes all three.
    std::condition_variable asked;      // the filler: the device asked, or copied a buffer
    std::condition_variable handedOver; // the device: a fresh buffer, waited for
    std::condition_variable stopped;    // the device: holding a callback, which only a stop ends
    std::vector<float> first;
    std::vector<float> second;
    float* front = nullptr;
    float* back = nullptr;
    unsigned int frames = 0;
    bool fresh = false;   // front was handed over and not copied yet
    bool taken = false;   // the device asked for audio since trigger() last returned
    bool running = false; // the stream runs; waits end when it does not
    bool paced = false;   // PulseAudio: callbacks are held and may wait for the filler
    bool flowing = false; // the last callback copied a buffer handed over
    Clock::time_point lastCopied;
    Clock::time_point askedAt;      // the device's latest request
    bool everCopied = false;        // a buffer was handed over since the stream started
    Audio::Sink::DeviceClock clock; // what the device asked for, for the filler to time against
    OutputPacer pacer{Clock::duration::zero()};

    explicit Exchange(unsigned int size) { resize(size); }

    // Called on the filling thread while the stream is not running.
    void resize(unsigned int size)
    {
        frames = size;
        first.assign(static_cast<size_t>(size) * channelCount, 0.0f);
        second.assign(static_cast<size_t>(size) * channelCount, 0.0f);
        front = first.data();
        back = second.data();
    }

    Clock::duration period() const
    {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(frames) / sampleRate));
    }

    // After `running` changed: every wait looks again.
    void notifyEveryone()
    {
        asked.notify_all();
        handedOver.notify_all();
        stopped.notify_all();
    }

    // Called on the device thread, with the lock held.
    void waitForTurn(std::unique_lock<std::mutex>& lock)
    {
        const Clock::time_point now = Clock::now();
        const Clock::time_point until = pacer.holdUntil(now);
        if (until > now)
            stopped.wait_until(lock, until, [this] { return !running; });
        if (paced && flowing && !fresh)
            handedOver.wait_until(lock, lastCopied + period(), [this] { return fresh || !running; });
    }

    // Called on the device thread.
    void deliver(float* out, unsigned int n)
    {
        unsigned int copied = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            waitForTurn(lock);
            if (fresh) {
                copied = std::min(n, frames);
                std::memcpy(out, front, sizeof(float) * samples(copied));
            }
            askedAt = Clock::now();
            if (fresh)
                lastCopied = askedAt;
            count(n, copied);
            flowing = fresh;
            fresh = false;
            taken = true;
            pacer.returned(askedAt);
        }
        asked.notify_all();
        if (copied < n)
            std::memset(out + samples(copied), 0, sizeof(float) * samples(n - copied));
    }

    // Called on the device thread, with the lock held. Silence before the
    // first buffer is the stream's start, not a gap.
    void count(unsigned int n, unsigned int copied)
    {
        everCopied = everCopied || copied > 0;
        clock.frames += n;
        if (everCopied)
            clock.starvedFrames += n - copied;
        clock.askedAt = askedAt;
    }

    // Device thread. Nothing may escape into RtAudio.
    static int cbAudio(void* outputBuffer, void*, unsigned int nFrames, double, RtAudioStreamStatus,
                       void* userData)
    {
        auto* out = static_cast<float*>(outputBuffer);
        try {
            static_cast<Exchange*>(userData)->deliver(out, nFrames);
        } catch (...) {
            std::memset(out, 0, sizeof(float) * channelCount * nFrames);
        }
        return 0;
    }
};

AudioIO::AudioIO(int framesPerBuffer) : AudioIO(nullptr, framesPerBuffer)
{
}

AudioIO::AudioIO(AudioLibrary& library, int framesPerBuffer) : AudioIO(&library, framesPerBuffer)
{
}

AudioIO::AudioIO(AudioLibrary* library, int framesPerBuffer)
    : _ownLibrary(library ? nullptr : std::make_unique<AudioLibrary>())
    , _library(library ? *library : *_ownLibrary)
    , _exchange(std::make_unique<Exchange>(static_cast<unsigned int>(framesPerBuffer)))
    , _audio(_library.lend())
    , _nBuffers(2)
    , _bufferSize(framesPerBuffer)
    , _bufferTime(static_cast<float>(thresholdFrames) / sampleRate * 1000.0f)
    , _lastTrigger(0)
    , _firstTrigger(true)
{
}

AudioIO::~AudioIO()
{
    if (_abandoned) {
        closeInBackground();
        return;
    }
    try {
        drainAndStop();
    } catch (RtAudioError& e) {
        e.printMessage();
    } catch (...) {
    }
    // An object whose stream would not close is not lent again.
    if (!_audio->isStreamOpen()) {
        _library.giveBack(std::move(_audio));
        return;
    }
    try {
        _audio.reset();
    } catch (RtAudioError& e) {
        e.printMessage();
    } catch (...) {
    }
}

void AudioIO::init(int outputChannels, int inputChannels)
{
    if (outputChannels != channelCount || inputChannels != 0) {
        Utils::printErr("AudioIO: only two output channels and no input are supported\n");
        throw Utils::AudioInitError();
    }
    if (_audio->isStreamOpen()) {
        Utils::printErr("AudioIO: the stream is already open\n");
        throw Utils::AudioInitError();
    }
    const unsigned int frames = openFirstUsableDevice();
    _bufferSize = static_cast<int>(frames);
    if (frames != _exchange->frames)
        _exchange->resize(frames);
    pace();
    start();
    _firstTrigger = true;
    _failuresAtStart = streamFailures;
}

// The default device first; when it does not open, every other one, as the
// library lists them. Listing the devices asks the sound server for all of
// them, so it is left out when the default opens. Returns the frames per
// buffer granted; prints every device's refusal and throws
// Utils::AudioInitError when none opens.
unsigned int AudioIO::openFirstUsableDevice()
{
    std::vector<std::string> failures;
    try {
        const unsigned int preferred = _audio->getDefaultOutputDevice();
        auto frames = static_cast<unsigned int>(_bufferSize);
        if (tryOpen(preferred, frames, failures))
            return frames;
        const unsigned int count = _audio->getDeviceCount();
        if (count == 0) {
            Utils::printErr("AudioIO: no audio device found\n");
            throw Utils::AudioInitError();
        }
        for (unsigned int device = 0; device < count; ++device) {
            frames = static_cast<unsigned int>(_bufferSize);
            if (device != preferred && tryOpen(device, frames, failures))
                return frames;
        }
    } catch (RtAudioError& e) {
        failures.push_back(e.getMessage());
    }
    for (const std::string& text : failures)
        Utils::printErr(text + "\n");
    if (failures.empty())
        Utils::printErr("AudioIO: no device takes two float channels at 44100 Hz\n");
    throw Utils::AudioInitError();
}

bool AudioIO::tryOpen(unsigned int device, unsigned int& frames, std::vector<std::string>& failures)
{
    try {
        if (_audio->getDeviceInfo(device).outputChannels < static_cast<unsigned int>(channelCount))
            return false;
        RtAudio::StreamParameters output;
        output.deviceId = device;
        output.nChannels = channelCount;
        output.firstChannel = 0;
        // Room for two buffers on the device side, so that the sound
        // server's queue still plays while the audio thread holds a callback
        // (see OutputPacer). A buffer handed over is heard about two buffer
        // periods later, as with room for one: the queue is fuller, but the
        // hold copies the buffer later in its period.
        RtAudio::StreamOptions options;
        options.numberOfBuffers = static_cast<unsigned int>(_nBuffers);
        _audio->openStream(&output, nullptr, RTAUDIO_FLOAT32, sampleRate, &frames, &Exchange::cbAudio,
                           _exchange.get(), &options, &cbError);
        return true;
    } catch (RtAudioError& e) {
        failures.push_back(e.getMessage());
        return false;
    }
}

void AudioIO::start()
{
    setRunning(true);
    // From here on RtAudio reports failures through cbError; a start that
    // failed shows as a stream that is not running.
    try {
        _audio->startStream();
    } catch (RtAudioError& e) {
        e.printMessage();
    }
    if (!_audio->isStreamRunning()) {
        setRunning(false);
        Utils::printErr("AudioIO: the audio stream did not start\n");
        throw Utils::AudioInitError();
    }
}

// PulseAudio's backend calls back from a loop of its own that writes each
// buffer to the server, which the hold spaces out. Other backends call back
// on the device's clock and must not be held.
void AudioIO::pace()
{
    const bool paced = _audio->getCurrentApi() == RtAudio::LINUX_PULSE;
    std::lock_guard<std::mutex> lock(_exchange->mutex);
    _exchange->paced = paced;
    _exchange->pacer = OutputPacer(paced ? _exchange->period() : OutputPacer::Clock::duration::zero());
}

void AudioIO::setRunning(bool running)
{
    {
        std::lock_guard<std::mutex> lock(_exchange->mutex);
        _exchange->fresh = false;
        _exchange->taken = false;
        _exchange->running = running;
        _exchange->flowing = false;
        _exchange->pacer.restart();
        if (running) {
            _exchange->everCopied = false;
            _exchange->clock = Audio::Sink::DeviceClock{0, 0, Exchange::Clock::now()};
        }
    }
    _exchange->notifyEveryone();
}

// The device thread writes a copied buffer to the server only after the
// callback returns, and skips the write once the stream is stopped. So that
// the last buffer handed over is heard, silence is handed over after it and
// the stream stops once that has been copied: the callback loop has then
// finished the write before. Bounded, in case the device has stalled.
void AudioIO::drainAndStop()
{
    Exchange& x = *_exchange;
    {
        std::fill_n(x.back, samples(x.frames), 0.0f);
        std::unique_lock<std::mutex> lock(x.mutex);
        const auto deadline =
            std::chrono::steady_clock::now()
            + std::chrono::milliseconds(1000L + 3000L * static_cast<long>(x.frames) / sampleRate);
        const auto copied = [&x] { return !x.fresh || !x.running; };
        if (x.asked.wait_until(lock, deadline, copied) && x.running) {
            std::swap(x.front, x.back);
            x.fresh = true;
            x.handedOver.notify_all();
            x.asked.wait_until(lock, deadline, copied);
        }
        x.running = false;
    }
    x.notifyEveryone();
    // stopStream() drains what the server still holds; closing a running
    // stream would flush it.
    if (_audio->isStreamRunning())
        _audio->stopStream();
    if (_audio->isStreamOpen())
        _audio->closeStream();
}

int AudioIO::bufSize() const
{
    return _bufferSize;
}

float* AudioIO::frameData(int offset)
{
    return _exchange->back + samples(offset);
}

void AudioIO::read(float** channels)
{
    const float* in = _exchange->back;
    for (std::ptrdiff_t i = 0; i < _bufferSize; ++i) {
        channels[0][i] = in[2 * i];
        channels[1][i] = in[2 * i + 1];
    }
}

void AudioIO::trigger(const Meanwhile& meanwhile)
{
    if (!_audio->isStreamOpen()) {
        Utils::printErr("AudioIO: trigger without an open stream\n");
        throw Utils::AudioTriggerError();
    }
    if (streamFailures != _failuresAtStart)
        giveUp("AudioIO: the sound server failed\n");
    // The first trigger after init has no previous device wait to measure
    // from: the stream may have been opened long before data came.
    if (!_firstTrigger) {
        const uint32_t elapsedMs = _timer.now() - _lastTrigger;
        const auto elapsed = static_cast<float>(elapsedMs);
        if (elapsed > _bufferTime)
            std::printf("UNDERRUN - diff %.0f\n", static_cast<double>(elapsed));
    }
    if (!handOver(_firstTrigger ? Meanwhile() : meanwhile))
        giveUp("AudioIO: the sound server took no audio for " + std::to_string(stallLimitMs()) + " ms\n");
    _lastTrigger = _timer.now();
    _firstTrigger = false;
}

// Swaps the filled buffer in and waits until the device asks again; false
// when it does not within stallLimitMs(): a frozen or vanished server.
bool AudioIO::handOver(const Meanwhile& meanwhile)
{
    Exchange& x = *_exchange;
    std::unique_lock<std::mutex> lock(x.mutex);
    // Takes of the silence played before the first hand-over do not count:
    // otherwise the first trigger would return at once and every buffer
    // would wait a period longer in the queue.
    if (_firstTrigger)
        x.taken = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallLimitMs());
    // After a late buffer one is queued ahead: the device copies it at its
    // next request, and the time until then is the filler's too.
    if (x.fresh)
        useTimeUntilRequest(lock, meanwhile);
    if (!x.asked.wait_until(lock, deadline, [&x] { return !x.fresh || !x.running; }))
        return false;
    std::swap(x.front, x.back);
    x.fresh = true;
    x.handedOver.notify_all();
    if (!x.taken)
        useTimeUntilRequest(lock, meanwhile);
    if (!x.asked.wait_until(lock, deadline, [&x] { return x.taken || !x.running; }))
        return false;
    x.taken = false;
    return true;
}

// The device asks about a period after it last did. Nothing can end
// `meanwhile` when it asks, so it ends a little before: a request that
// comes early (some servers ask in steps of their own period) must not
// wait, or the next buffer would be late.
void AudioIO::useTimeUntilRequest(std::unique_lock<std::mutex>& lock, const Meanwhile& meanwhile)
{
    if (!meanwhile)
        return;
    const auto expected = _exchange->askedAt + _exchange->period() - std::chrono::milliseconds(25);
    lock.unlock();
    meanwhile(expected);
    lock.lock();
}

int AudioIO::stallLimitMs() const
{
    return stallPeriods * 1000 * _bufferSize / static_cast<int>(sampleRate) + 1;
}

Audio::Sink::DeviceClock AudioIO::deviceClock() const
{
    std::lock_guard<std::mutex> lock(_exchange->mutex);
    return _exchange->clock;
}

// The stream can no longer play: trigger() says why and throws, and the
// destructor will not wait for the server.
void AudioIO::giveUp(const std::string& why)
{
    _abandoned = true;
    Utils::printErr(why);
    throw Utils::AudioTriggerError();
}

// Stopping or closing a stream waits for the sound server, which may never
// answer again (a stopped process). The library object and the exchange its
// audio thread uses go to a thread of their own that closes them whenever
// the server lets it, so the owner's thread never waits for that.
// The library lends the next output a new object.
void AudioIO::closeInBackground()
{
    setRunning(false);
    std::thread closer([audio = std::move(_audio), exchange = std::move(_exchange)]() mutable {
        try {
            audio.reset();
        } catch (...) {
        }
        exchange.reset();
    });
    closer.detach();
}

} // namespace Wrappers
