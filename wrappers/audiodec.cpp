#include "wrappers/audiodec.h"

#include "audio/format.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

namespace Wrappers {

namespace {

// How long one library read waits for a datagram.
const int readTimeoutMs = 999;
// Frames asked of the library at a time, and the size of the downmix arrays.
constexpr int chunkCapacity = Audio::framesPerBuffer;
// Sample rates that are played; Vorbis allows any, but the resampler
// cannot sensibly serve absurd ones.
constexpr long minRate = 1000;
constexpr long maxRate = 768000;
constexpr long outputRate = Audio::sampleRate;
// Silence and what borders it fade over this long, so that no click is heard.
constexpr double fadeSeconds = 0.005;
// A jump of the stream's position beyond this is no lost audio but a
// stream that went elsewhere: it is played on at once.
constexpr double maxMissingSeconds = 60.0;
// How long keeping the cushion may hold the decoder after a gap, at most.
constexpr double maxCushionWaitSeconds = 3.0;
constexpr std::chrono::milliseconds cushionStep{20};

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
    , _sink(nullptr)
    , _initialized(false)
    , _chunk{nullptr, nullptr}
    , _chunkRate(0)
    , _badRate(0)
    , _mixLeft(chunkCapacity)
    , _mixRight(chunkCapacity)
    , _zeros(chunkCapacity, 0.0f)
    , _chunkFrames(0)
    , _chunkIsStream(true)
    , _tail(false)
    , _ending(false)
    , _gapSeen(false)
    , _zerosLeft(0)
    , _starvedSeen(0)
    , _stageSection(-1)
    , _stagedLeft(0)
    , _follower(Audio::bufferSeconds)
    , _cushion(Audio::bufferSeconds)
    , _estimatedSerial(0)
    , _variable(false)
{
    _input.setArrivalListener([this](const OggInput::Newest& page) { arrived(page); });
}

AudioDec::~AudioDec()
{
    close();
}

void AudioDec::init(Net* net, Audio::Sink* sink)
{
    close();
    if (!net || !sink)
        throw Utils::AdError();
    _net = net;
    _sink = sink;
    _section = 0;
    const double period = static_cast<double>(sink->bufSize()) / outputRate;
    _follower = Audio::ClockFollower(period);
    _cushion = Audio::Cushion(period);
    _estimator.reset();
    _device.reset();
    _startedAt = Audio::Sink::Clock::now();
    _deviceAskedAt = {};
    _ledger.reset();
    _closedCounts = OggInput::Counts();
    _starvedSeen = sink->deviceClock().starvedFrames;
    _gapSeen = false;
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
    _sink = nullptr;
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

    const int total = _sink->bufSize();
    int filled = 0;
    while (filled < total) {
        if (_tail) {
            filled += playTail(filled, total - filled);
        } else if (_chunkFrames > 0) {
            filled += playChunk(filled, total - filled);
        } else if (loadPending()) {
            continue;
        } else if (_ending) {
            _ending = false;
            playPartial(filled);
            throw Utils::AdReadError();
        } else {
            readChunk(filled, total - filled);
        }
    }
    _sink->trigger([this](Audio::Sink::Clock::time_point until) { _input.takeUntil(until); });
    _input.drain();
    afterHandOver();
}

// Decodes the next frames into _chunk, or notes why there are none.
void AudioDec::readChunk(int filled, int room)
{
    if (_stage.active() && _stage.frames() > Audio::HoleStage::capacity - chunkCapacity) {
        releaseStage(0, filled); // no place came: play it as it is
        return;
    }
    int want = room;
    if (_resampler.active())
        want = static_cast<int>(room * _resampler.inRate() * _resampler.speed() / Resampler::outputRate) + 1;
    float** pcm = nullptr;
    const long r = ov_read_float(_vf.get(), &pcm, std::min(want, chunkCapacity), &_section);
    if (r > 0) {
        if (_stage.active())
            stage(pcm, static_cast<int>(r), filled);
        else
            takeChunk(pcm, static_cast<int>(r));
        return;
    }
    if (r == OV_HOLE || r == OV_EBADLINK) {
        std::printf("vorbisDecoder: %s\n", r == OV_HOLE ? "OV_HOLE" : "OV_EBADLINK");
        if (r == OV_HOLE && !_stage.active()) {
            _stage.begin(ov_pcm_tell(_vf.get()));
            _stageSection = _section;
        }
        return;
    }
    const char* name = r == 0 ? "EOF" : codeName(r);
    if (name)
        std::printf("vorbisDecoder: %s\n", name);
    else
        std::printf("vorbisDecoder: error %ld\n", r);
    if (_stage.active())
        releaseStage(0, filled);
    // At the end of a link the resampler's last frames belong to it; after
    // a stall they still have their continuation coming.
    _ending = true;
    _tail = _input.linkEnded() && _resampler.active();
    _chunkRate = 0;
}

// Stereo of the library's arrays: mono is played on both sides, more
// channels are folded down.
void AudioDec::stereo(float** pcm, int frames, float*& left, float*& right)
{
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    const int channels = vi ? vi->channels : 0;
    if (channels == 1 || channels == 2) {
        left = pcm[0];
        right = pcm[channels - 1];
        return;
    }
    if (_downmix.channels() != channels)
        _downmix = Audio::Downmix(channels);
    _downmix.mix(pcm, frames, _mixLeft.data(), _mixRight.data());
    left = _mixLeft.data();
    right = _mixRight.data();
}

void AudioDec::takeChunk(float** pcm, int frames)
{
    stereo(pcm, frames, _chunk[0], _chunk[1]);
    _chunkFrames = frames;
    _chunkIsStream = true;
    const vorbis_info* vi = ov_info(_vf.get(), -1);
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

// The silence of lost audio first, then what was decoded after the hole.
bool AudioDec::loadPending()
{
    if (_zerosLeft > 0) {
        _chunk[0] = _chunk[1] = _zeros.data();
        _chunkFrames = static_cast<int>(std::min<int64_t>(_zerosLeft, chunkCapacity));
        _chunkIsStream = false;
        _zerosLeft -= _chunkFrames;
        return true;
    }
    if (_stagedLeft > 0) {
        _chunk[0] = _stage.channel(0);
        _chunk[1] = _stage.channel(1);
        _chunkFrames = _stagedLeft;
        _chunkIsStream = true;
        _stagedLeft = 0;
        return true;
    }
    return false;
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
    int written = 0;
    if (!_resampler.active()) {
        written = std::min(_chunkFrames, room);
        _sink->write(_chunk, offset, written);
        _chunk[0] += written;
        _chunk[1] += written;
        _chunkFrames -= written;
    } else {
        size_t used = 0;
        written = static_cast<int>(_resampler.process(_chunk, static_cast<size_t>(_chunkFrames), used,
                                                      _sink->frameData(offset), static_cast<size_t>(room)));
        if (written == 0 && used == 0)
            used = static_cast<size_t>(_chunkFrames); // taken by neither side: never spin on it
        _chunk[0] += used;
        _chunk[1] += used;
        _chunkFrames -= static_cast<int>(used);
    }
    if (_chunkIsStream)
        _ledger.played(written);
    return written;
}

// The last frames of the previous rate; once they are out, the resampler
// is set up for the frames waiting in _chunk, if any.
int AudioDec::playTail(int offset, int room)
{
    const size_t n = _resampler.flush(_sink->frameData(offset), static_cast<size_t>(room));
    if (n > 0) {
        _ledger.played(static_cast<int64_t>(n));
        return static_cast<int>(n);
    }
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
    const int rest = _sink->bufSize() - filled;
    _sink->silence(filled, rest);
    _sink->trigger();
    _ledger.starved(rest);
    // No cushion is kept while nothing comes: the first buffer after the
    // stall sees what the device played as silence meanwhile and keeps it.
    afterHandOver(false);
}

// Frames decoded after a hole wait until the library knows their place
// again, which it does once it has decoded the packet that ends a page.
void AudioDec::stage(float** pcm, int frames, int filled)
{
    float* left = nullptr;
    float* right = nullptr;
    stereo(pcm, frames, left, right);
    _stage.add(left, right, frames);
    if (_section != _stageSection) {
        releaseStage(0, filled); // a new link: nothing of the old one is missing
        return;
    }
    if (_vf->vd.granulepos == -1)
        return;
    const int64_t first = ov_pcm_tell(_vf.get()) - _stage.frames();
    releaseStage(first - _stage.holeAt(), filled);
}

// What was staged plays next, after silence for `missingFrames` of the
// link (less what the device already played as silence meanwhile), with a
// fade on each side of it.
void AudioDec::releaseStage(int64_t missingFrames, int filled)
{
    noteStarvation(); // the device may have played silence for it already
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    const double rate = vi && vi->rate > 0 ? static_cast<double>(vi->rate) : outputRate;
    const double toOutput = outputRate / rate / _follower.speed();
    if (missingFrames > 0 && static_cast<double>(missingFrames) < maxMissingSeconds * rate) {
        const auto silence = _ledger.missing(std::llround(static_cast<double>(missingFrames) * toOutput));
        _zerosLeft = std::llround(static_cast<double>(silence) / toOutput);
        // What the device played meanwhile was the lost audio's, not late data's.
        _gapSeen = _gapSeen && _ledger.lateSinceAudio() > 0;
        if (silence > 0 && filled > 0)
            Audio::fadeOutBefore(_sink->frameData(filled), std::min(filled, int(fadeSeconds * outputRate)));
    }
    if (_ledger.silenceSinceAudio() > 0 || _zerosLeft > 0)
        _stage.fadeIn(static_cast<int>(fadeSeconds * rate));
    _stagedLeft = _stage.frames();
    _stage.clear();
    useRate(vi ? vi->rate : 0); // a hole at a link's start: its rate is not set up yet
}

bool AudioDec::isInitialized() const
{
    return _initialized;
}

void AudioDec::close()
{
    if (_net)
        _closedCounts = _input.counts(); // for report(), which may come after
    if (_initialized)
        ov_clear(_vf.get());
    _initialized = false;
    _net = nullptr;
    _sink = nullptr;
    _input.reset(nullptr);
    forgetFrames();
}

void AudioDec::setStopCheck(std::function<bool()> stopRequested)
{
    _input.setStopCheck(std::move(stopRequested));
}

AudioDec::Report AudioDec::report() const
{
    Report r;
    r.gaps = _ledger.totals();
    r.slowest = _follower.slowest();
    r.fastest = _follower.fastest();
    const OggInput::Counts& c = _net ? _input.counts() : _closedCounts;
    r.pagesLost = c.pagesLost;
    r.pagesRefused = c.pagesRefused;
    r.duplicates = c.duplicates;
    r.reordered = c.reordered;
    return r;
}

// Called by the input as each page with a granule position arrives, on
// the decoding thread: when it came by the device's clock, against where
// its audio lies in its link.
void AudioDec::arrived(const OggInput::Newest& page)
{
    if (!_initialized || !_sink)
        return;
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    // Pages of a link not decoded yet: its rate is not known.
    if (!vi || vi->rate <= 0 || page.serial != static_cast<uint32_t>(ov_serialnumber(_vf.get(), -1)))
        return;
    if (page.serial != _estimatedSerial) {
        _estimator.restart();
        _estimatedSerial = page.serial;
    }
    const auto rate = static_cast<double>(vi->rate);
    const double start = page.start >= 0 ? static_cast<double>(page.start) / rate : -1.0;
    _estimator.observe(secondsSince(page.taken), start, static_cast<double>(page.granule) / rate);
}

double AudioDec::secondsSince(Audio::Sink::Clock::time_point t) const
{
    return std::chrono::duration<double>(t - _startedAt).count();
}

// The device asks for frames by its own clock: how fast it does against
// this machine's is measured like the sender's, and the sender's rate is
// then taken against the device's. A request comes no earlier than the
// device has room, so the earliest requests follow its clock.
void AudioDec::timeDevice()
{
    const Audio::Sink::DeviceClock clock = _sink->deviceClock();
    if (clock.frames == 0 || clock.askedAt == _deviceAskedAt)
        return;
    _deviceAskedAt = clock.askedAt;
    _device.observe(secondsSince(clock.askedAt), -1, static_cast<double>(clock.frames) / outputRate);
}

// Seconds of the sender's audio per second of the device's, and the
// standard error of that. Exactly 1 until one of the two clocks is known to
// differ from this machine's and the two then differ from each other beyond
// what both measurements leave open: a sender on the device's clock is
// played untouched whatever this machine's clock does.
double AudioDec::senderRate(double& uncertainty) const
{
    uncertainty = std::hypot(_estimator.uncertainty(), _device.uncertainty());
    if (!_estimator.established() && !_device.established())
        return 1.0;
    const double rate = _estimator.measuredRate() / _device.measuredRate();
    return std::fabs(rate - 1.0) > Audio::RateEstimator::enterSigmas * uncertainty ? rate : 1.0;
}

// Seconds of the stream that have arrived and wait ahead of the device:
// not decoded yet, decoded and not played, and the buffer just handed over.
double AudioDec::heldSeconds() const
{
    const OggInput::Newest& newest = _input.newest();
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    if (!vi || vi->rate <= 0 || !newest.known)
        return 0;
    if (newest.serial != static_cast<uint32_t>(ov_serialnumber(_vf.get(), -1)))
        return maxCushionWaitSeconds; // the next link is arriving already
    const auto pending = static_cast<double>(newest.granule - ov_pcm_tell(_vf.get()) + _chunkFrames);
    return pending / static_cast<double>(vi->rate) + static_cast<double>(_sink->bufSize()) / outputRate;
}

// Once per buffer handed over: what the device played as silence meanwhile,
// and the speed of the next buffer.
void AudioDec::afterHandOver(bool flowing)
{
    if (flowing) {
        noteStarvation();
        if (_gapSeen)
            keepCushion();
        _gapSeen = false;
    }
    timeDevice();
    double uncertainty = 0;
    const double rate = senderRate(uncertainty);
    useSpeed(_follower.follow(rate, uncertainty));
    if (_follower.outOfRange())
        Utils::printErr(
            "vorbisDecoder: the sender's clock differs from the sound device's by more than 0.5 %;"
            " playing it as it comes\n");
}

// What the device has played as silence since the last look.
void AudioDec::noteStarvation()
{
    const int64_t starved = _sink->deviceClock().starvedFrames;
    if (starved > _starvedSeen) {
        _ledger.starved(starved - _starvedSeen);
        _gapSeen = true;
    }
    _starvedSeen = starved;
}

// Data came late and the device played silence: before playing on, hold
// what the sender's pacing needs, so that this gap is the last.
void AudioDec::keepCushion()
{
    const double wanted = _cushion.afterGap(_estimator.lateness());
    const auto deadline = Audio::Sink::Clock::now()
                          + std::chrono::duration_cast<Audio::Sink::Clock::duration>(
                              std::chrono::duration<double>(std::min(wanted, maxCushionWaitSeconds)));
    while (heldSeconds() < wanted && Audio::Sink::Clock::now() < deadline && !_input.stopRequested())
        _input.takeUntil(std::min(deadline, Audio::Sink::Clock::now() + cushionStep));
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
        _resampler.setSpeed(speed, static_cast<size_t>(_sink->bufSize()));
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
    _stage.clear();
    _zerosLeft = 0;
    _stagedLeft = 0;
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
