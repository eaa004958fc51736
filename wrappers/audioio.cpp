#include "wrappers/audioio.h"

#include "audio/format.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/output_closer.h"
#include "wrappers/stream_context.h"

#include <RtAudio.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
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

// RtAudio 5 reports every error of an open stream here instead of
// throwing, from the owner's thread or from its audio thread. A dead
// server makes the audio thread report the same failure on every loop, so
// a message is printed only when it differs from the one before. The
// failure is the output's that the reporting thread acts for.
void cbError(RtAudioError::Type, const std::string& text)
{
    StreamContext::chargeCallingThread();
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

// Device thread. Nothing may escape into RtAudio.
int cbAudio(void* outputBuffer, void*, unsigned int nFrames, double, RtAudioStreamStatus, void* userData)
{
    auto* out = static_cast<float*>(outputBuffer);
    try {
        static_cast<StreamContext*>(userData)->deliver(out, nFrames);
    } catch (...) {
        std::memset(out, 0, sizeof(float) * static_cast<size_t>(samples(nFrames)));
    }
    return 0;
}

std::chrono::steady_clock::time_point inMs(long ms)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

AudioIO::AudioIO(int framesPerBuffer) : AudioIO(nullptr, framesPerBuffer)
{
}

AudioIO::AudioIO(AudioLibrary& library, int framesPerBuffer) : AudioIO(&library, framesPerBuffer)
{
}

AudioIO::AudioIO(AudioLibrary* library, int framesPerBuffer)
    : _ownLibrary(library ? nullptr : std::make_unique<AudioLibrary>())
    , _library(library ? *library : *_ownLibrary)
    , _context(std::make_unique<StreamContext>(static_cast<unsigned int>(framesPerBuffer)))
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
    // A server that froze after the last buffer is left to the closer as
    // one that froze during a trigger is.
    if (!_abandoned && !stopQuietly()) {
        _abandoned = true;
        Utils::printErr("AudioIO: the sound server took no audio while the output stopped\n");
    }
    if (_abandoned)
        closeInBackground();
    else
        keepOrDropLibraryObject();
}

// The destructor's stop, which must not throw; false when the server froze.
bool AudioIO::stopQuietly()
{
    const StreamContext::Acting acting(*_context);
    try {
        return drainAndStop();
    } catch (RtAudioError& e) {
        e.printMessage();
    } catch (...) {
    }
    return true;
}

// An object whose stream would not close is not lent again.
void AudioIO::keepOrDropLibraryObject()
{
    const StreamContext::Acting acting(*_context);
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
    const StreamContext::Acting acting(*_context);
    if (outputChannels != channelCount || inputChannels != 0) {
        Utils::printErr("AudioIO: only two output channels and no input are supported\n");
        throw Utils::AudioInitError();
    }
    if (_audio->isStreamOpen()) {
        Utils::printErr("AudioIO: the stream is already open\n");
        throw Utils::AudioInitError();
    }
    // Should this output be given up on too, its closer would pass the
    // bound; the attempt fails, and a later one opens once one has closed.
    if (const int waiting = OutputCloser::alive(); waiting >= OutputCloser::most) {
        Utils::printErr("AudioIO: " + std::to_string(waiting)
                        + " outputs given up on still wait for the sound server to close them; no other "
                          "opens until one has\n");
        throw Utils::AudioInitError();
    }
    const unsigned int frames = openFirstUsableDevice();
    _bufferSize = static_cast<int>(frames);
    if (frames != _context->handover().frames())
        _context->handover().resize(frames);
    pace();
    start();
    _firstTrigger = true;
    _failuresAtStart = _context->failures();
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
        _audio->openStream(&output, nullptr, RTAUDIO_FLOAT32, sampleRate, &frames, &cbAudio, _context.get(),
                           &options, &cbError);
        return true;
    } catch (RtAudioError& e) {
        failures.push_back(e.getMessage());
        return false;
    }
}

void AudioIO::start()
{
    _context->handover().setRunning(true);
    // From here on RtAudio reports failures through cbError; a start that
    // failed shows as a stream that is not running.
    try {
        _audio->startStream();
    } catch (RtAudioError& e) {
        e.printMessage();
    }
    if (!_audio->isStreamRunning()) {
        _context->handover().setRunning(false);
        Utils::printErr("AudioIO: the audio stream did not start\n");
        throw Utils::AudioInitError();
    }
}

// PulseAudio's backend calls back from a loop of its own that writes each
// buffer to the server, which the hold spaces out. Other backends call back
// on the device's clock and must not be held.
void AudioIO::pace()
{
    _context->handover().pace(_audio->getCurrentApi() == RtAudio::LINUX_PULSE);
}

// The device thread writes a copied buffer to the server only after the
// callback returns, and skips the write once the stream is stopped; the
// hand-over's drain waits for that. Bounded, in case the device has
// stalled: a drain that ran out its time is a server that froze, on which
// stopping or closing the stream would wait as long as libpulse does, so
// it returns false and leaves the stream as it is.
bool AudioIO::drainAndStop()
{
    if (!_context->handover().drain(
            inMs(1000L + 3000L * static_cast<long>(_context->handover().frames()) / sampleRate)))
        return false;
    // stopStream() drains what the server still holds; closing a running
    // stream would flush it.
    if (_audio->isStreamRunning())
        _audio->stopStream();
    if (_audio->isStreamOpen())
        _audio->closeStream();
    return true;
}

int AudioIO::bufSize() const
{
    return _bufferSize;
}

float* AudioIO::frameData(int offset)
{
    return _context->handover().back() + samples(offset);
}

void AudioIO::read(float** channels)
{
    const float* in = _context->handover().back();
    for (std::ptrdiff_t i = 0; i < _bufferSize; ++i) {
        channels[0][i] = in[2 * i];
        channels[1][i] = in[2 * i + 1];
    }
}

void AudioIO::trigger(const Meanwhile& meanwhile)
{
    const StreamContext::Acting acting(*_context);
    if (!_audio->isStreamOpen()) {
        Utils::printErr("AudioIO: trigger without an open stream\n");
        throw Utils::AudioTriggerError();
    }
    if (_context->failures() != _failuresAtStart)
        giveUp("AudioIO: the sound server failed\n");
    reportUnderrun();
    if (!_context->handover().handOver(inMs(stallLimitMs()), meanwhile))
        giveUp("AudioIO: the sound server took no audio for " + std::to_string(stallLimitMs()) + " ms\n");
    _lastTrigger = _timer.now();
    _firstTrigger = false;
}

// The first trigger after init has no previous device wait to measure
// from: the stream may have been opened long before data came.
void AudioIO::reportUnderrun()
{
    if (_firstTrigger)
        return;
    const uint32_t elapsedMs = _timer.now() - _lastTrigger;
    const auto elapsed = static_cast<float>(elapsedMs);
    if (elapsed > _bufferTime)
        std::printf("UNDERRUN - diff %.0f\n", static_cast<double>(elapsed));
}

int AudioIO::stallLimitMs() const
{
    return stallPeriods * 1000 * _bufferSize / static_cast<int>(sampleRate) + 1;
}

Audio::Sink::DeviceClock AudioIO::deviceClock() const
{
    return _context->handover().deviceClock();
}

// The stream can no longer play: trigger() says why and throws, and the
// destructor will not wait for the server.
void AudioIO::giveUp(const std::string& why)
{
    _abandoned = true;
    Utils::printErr(why);
    throw Utils::AudioTriggerError();
}

// The library lends the next output a new object.
void AudioIO::closeInBackground()
{
    _context->handover().setRunning(false);
    OutputCloser::close(std::move(_audio), std::move(_context));
}

} // namespace Wrappers
