#include "wrappers/audiodec.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/audioio.h"
#include "wrappers/net.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <utility>

namespace Wrappers {

namespace {

// How long one library read waits for a datagram.
const int readTimeoutMs = 999;
// Frames asked of the library at a time, and the size of the downmix arrays.
constexpr int chunkCapacity = 8192;
// Sample rates that are played; Vorbis allows any, but the resampler
// cannot sensibly serve absurd ones.
constexpr long minRate = 1000;
constexpr long maxRate = 768000;
constexpr long outputRate = 44100;
// A link's first second is not measured: until the library has read a page
// with a granule position of it, its position may still be the previous
// link's.
constexpr long unmeasuredLinkSeconds = 1;

const char* codeName(long r)
{
    switch (r) {
    case OV_FALSE:
        return "OV_FALSE";
    case OV_EREAD:
        return "OV_EREAD";
    case OV_EFAULT:
        return "OV_EFAULT";
    case OV_EIMPL:
        return "OV_EIMPL";
    case OV_EINVAL:
        return "OV_EINVAL";
    case OV_ENOTVORBIS:
        return "OV_ENOTVORBIS";
    case OV_EBADHEADER:
        return "OV_EBADHEADER";
    case OV_EVERSION:
        return "OV_EVERSION";
    case OV_ENOTAUDIO:
        return "OV_ENOTAUDIO";
    case OV_EBADPACKET:
        return "OV_EBADPACKET";
    case OV_ENOSEEK:
        return "OV_ENOSEEK";
    default:
        return nullptr;
    }
}

} // namespace

AudioDec::AudioDec()
    : _vf(new OggVorbis_File())
    , _section(0)
    , _net(nullptr)
    , _aio(nullptr)
    , _initialized(false)
    , _chunk{nullptr, nullptr}
    , _chunkFrames(0)
    , _chunkRate(0)
    , _mixLeft(chunkCapacity)
    , _mixRight(chunkCapacity)
    , _tail(false)
    , _ending(false)
    , _badRate(0)
    , _follower(static_cast<double>(chunkCapacity) / outputRate)
    , _variable(false)
    , _linkSection(-1)
    , _linkFrames(0)
{
}

AudioDec::~AudioDec()
{
    close();
}

void AudioDec::init(Net* net, AudioIO* aio)
{
    close();
    if (!net || !aio)
        throw Utils::AdError();
    _net = net;
    _aio = aio;
    _section = 0;
    _follower = Utils::ClockFollower(static_cast<double>(aio->bufSize()) / outputRate);
    _input.reset(net);

    ov_callbacks callbacks;
    callbacks.read_func = cbRead;
    callbacks.seek_func = cbSeek;
    callbacks.close_func = cbClose;
    callbacks.tell_func = cbTell;
    int r = ov_open_callbacks(this, _vf.get(), nullptr, 0, callbacks);
    if (r == 0) {
        _initialized = true;
        return;
    }

    // The library has released what it had; clearing again is harmless and
    // leaves the state zeroed whatever the code was.
    ov_clear(_vf.get());
    const bool foreign = _input.foreign();
    _net = nullptr;
    _aio = nullptr;
    _input.reset(nullptr);
    switch (r) {
    case OV_EREAD:
        if (foreign)
            throw Utils::AdDataError();
        throw Utils::AdReadError();
    case OV_ENOTVORBIS:
    case OV_EBADHEADER:
    case OV_EVERSION:
        throw Utils::AdDataError();
    default:
        throw Utils::AdError();
    }
}

void AudioDec::decode()
{
    if (!_initialized) {
        std::printf("vorbisDecoder: not open\n");
        throw Utils::AdReadError();
    }

    const int total = _aio->bufSize();
    int filled = 0;
    while (filled < total) {
        if (_tail) {
            filled += playTail(filled, total - filled);
        } else if (_ending) {
            _ending = false;
            playPartial(filled);
            // Whatever waited is gone; what comes next settles anew.
            _follower.reset();
            useSpeed(1.0);
            throw Utils::AdReadError();
        } else if (_chunkFrames == 0) {
            readChunk(total - filled);
        } else {
            filled += playChunk(filled, total - filled);
        }
    }
    _aio->trigger([this](std::chrono::steady_clock::time_point until) { _input.takeUntil(until); });
    _input.drain();
    followClock();
}

// Decodes the next frames into _chunk, or notes why there are none.
void AudioDec::readChunk(int room)
{
    int want = room;
    if (_resampler.active())
        want = static_cast<int>(room * _resampler.inRate() * _resampler.speed() / Resampler::outputRate) + 1;
    float** pcm = nullptr;
    const long r = ov_read_float(_vf.get(), &pcm, std::min(want, chunkCapacity), &_section);
    if (r > 0) {
        if (_section != _linkSection)
            _linkFrames = 0;
        _linkSection = _section;
        _linkFrames += r;
        takeChunk(pcm, static_cast<int>(r));
        return;
    }
    if (r == OV_HOLE || r == OV_EBADLINK) {
        std::printf("vorbisDecoder: %s\n", r == OV_HOLE ? "OV_HOLE" : "OV_EBADLINK");
        return;
    }
    const char* name = r == 0 ? "EOF" : codeName(r);
    if (name)
        std::printf("vorbisDecoder: %s\n", name);
    else
        std::printf("vorbisDecoder: error %ld\n", r);
    // At the end of a link the resampler's last frames belong to it; after
    // a stall they still have their continuation coming.
    _ending = true;
    _tail = _input.linkEnded() && _resampler.active();
    _chunkRate = 0;
}

// Makes stereo of the library's arrays: mono is played on both sides,
// more channels are folded down.
void AudioDec::takeChunk(float** pcm, int frames)
{
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    const int channels = vi ? vi->channels : 0;
    if (channels == 1 || channels == 2) {
        _chunk[0] = pcm[0];
        _chunk[1] = pcm[channels - 1];
    } else {
        if (_downmix.channels() != channels)
            _downmix = Utils::Downmix(channels);
        _downmix.mix(pcm, frames, _mixLeft.data(), _mixRight.data());
        _chunk[0] = _mixLeft.data();
        _chunk[1] = _mixRight.data();
    }
    _chunkFrames = frames;
    useRate(vi ? vi->rate : 0);
}

// A new rate takes effect once the resampler has given up what it holds
// of the previous one.
void AudioDec::useRate(long rate)
{
    if (rate < minRate || rate > maxRate) {
        if (rate != _badRate)
            std::printf("vorbisDecoder: cannot play a sample rate of %ld Hz\n", rate);
        _badRate = rate;
        _chunkFrames = 0;
        return;
    }
    _chunkRate = rate;
    if (_resampler.active() && static_cast<double>(rate) != _resampler.inRate())
        _tail = true;
    else if (!_resampler.active())
        startResampling(rate);
}

// A link at the output's rate is copied untouched, unless the sender's
// clock is being followed.
void AudioDec::startResampling(long rate)
{
    if (rate == 0 || (rate == outputRate && !_variable))
        _resampler.stop();
    else
        _resampler.start(static_cast<double>(rate), _variable);
}

int AudioDec::playChunk(int offset, int room)
{
    if (!_resampler.active()) {
        const int n = std::min(_chunkFrames, room);
        _aio->write(_chunk, offset, n);
        _chunk[0] += n;
        _chunk[1] += n;
        _chunkFrames -= n;
        return n;
    }
    size_t used = 0;
    const size_t n = _resampler.process(_chunk, static_cast<size_t>(_chunkFrames), used,
                                        _aio->frameData(offset), static_cast<size_t>(room));
    if (n == 0 && used == 0) {
        _chunkFrames = 0; // taken by neither side: never spin on it
        return 0;
    }
    _chunk[0] += used;
    _chunk[1] += used;
    _chunkFrames -= static_cast<int>(used);
    return static_cast<int>(n);
}

// The last frames of the previous rate; once they are out, the resampler
// is set up for the frames waiting in _chunk, if any.
int AudioDec::playTail(int offset, int room)
{
    const size_t n = _resampler.flush(_aio->frameData(offset), static_cast<size_t>(room));
    if (n > 0)
        return static_cast<int>(n);
    _tail = false;
    startResampling(_chunkRate);
    _resampler.setSpeed(_follower.speed(), 0);
    return 0;
}

// Decoding cannot go on for now: the frames decoded so far are played at
// once, completed with silence, rather than held back or thrown away.
void AudioDec::playPartial(int filled)
{
    if (filled == 0)
        return;
    _aio->silence(filled, _aio->bufSize() - filled);
    _aio->trigger();
}

bool AudioDec::isInitialized() const
{
    return _initialized;
}

void AudioDec::close()
{
    if (_initialized)
        ov_clear(_vf.get());
    _initialized = false;
    _net = nullptr;
    _aio = nullptr;
    _input.reset(nullptr);
    forgetFrames();
}

void AudioDec::setStopCheck(std::function<bool()> stopRequested)
{
    _input.setStopCheck(std::move(stopRequested));
}

// Called once per output buffer, after the hand-over: what waits now sets
// the speed of the next buffer.
void AudioDec::followClock()
{
    double seconds = 0;
    if (waiting(seconds)) {
        _follower.observe(seconds);
        if (_follower.outOfRange())
            Utils::printErr(
                "vorbisDecoder: the sender's clock differs from the sound device's by more than 0.5 %;"
                " playing it as it comes\n");
    }
    useSpeed(_follower.speed());
}

// What waits ahead of the device, in seconds: the audio that has arrived
// and is not decoded yet, the frames decoded and not played, and the
// buffer the device took last. Granule positions make the first exact in
// audio time whatever the bit rate. It is counted from where the newest
// page starts, and the time since that page came is added: so counted, it
// neither jumps by a page's length when one arrives nor changes with the
// length of pages, and what is left moves only with the two clocks.
// Unknown (false) early in a link and once the newest page ends the link
// or belongs to the next one.
bool AudioDec::waiting(double& seconds) const
{
    if (!_initialized)
        return false;
    const OggInput::Newest& newest = _input.newest();
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    if (!vi || vi->rate <= 0 || !newest.known || newest.ends
        || newest.serial != static_cast<uint32_t>(ov_serialnumber(_vf.get(), -1))
        || _linkFrames < unmeasuredLinkSeconds * vi->rate)
        return false;
    const ogg_int64_t position = ov_pcm_tell(_vf.get());
    if (position < 0 || newest.start < 0)
        return false;
    const double linkFrames = static_cast<double>(newest.start - position) + _chunkFrames;
    const std::chrono::duration<double> sinceNewest = std::chrono::steady_clock::now() - newest.taken;
    seconds = linkFrames / static_cast<double>(vi->rate)
              + (_resampler.delayFrames() + _aio->bufSize()) / static_cast<double>(outputRate)
              + sinceNewest.count();
    return true;
}

// Once the speed leaves 1, the rest of the run goes through a variable
// resampler: switching back and forth would cost a seam each time. A
// resampler already running at a fixed ratio gives up its frames first.
void AudioDec::useSpeed(double speed)
{
    if (!_variable && speed != 1.0) {
        _variable = true;
        if (_resampler.active())
            _tail = true;
        else
            startResampling(_chunkRate != 0 ? _chunkRate : outputRate);
    }
    if (_resampler.variable())
        _resampler.setSpeed(speed, static_cast<size_t>(_aio->bufSize()));
}

void AudioDec::forgetFrames()
{
    _chunkFrames = 0;
    _chunkRate = 0;
    _tail = false;
    _ending = false;
    _badRate = 0;
    _resampler.stop();
    _variable = false;
    _linkSection = -1;
    _linkFrames = 0;
}

// Called by the library on the decoding thread, inside ov_open_callbacks
// and ov_read_float. Never returns 0: the library would take 0 for the end
// of the stream, or for an error when errno happens to be set.
size_t AudioDec::cbRead(void* ptr, size_t size, size_t nmemb, void* datasource)
{
    try {
        auto* dec = static_cast<AudioDec*>(datasource);
        if (!dec || !dec->_net || size == 0 || nmemb == 0)
            return size_t(-1);
        // The library reads with an element size of 1, so bytes are elements.
        const size_t n = dec->_input.read(ptr, size * std::min(nmemb, size_t(INT_MAX) / size), readTimeoutMs);
        return n > 0 ? n : size_t(-1);
    } catch (...) {
        return size_t(-1);
    }
}

int AudioDec::cbSeek(void*, int64_t, int)
{
    return -1;
}

int AudioDec::cbClose(void*)
{
    return 1;
}

long AudioDec::cbTell(void*)
{
    return -1;
}

} // namespace Wrappers
