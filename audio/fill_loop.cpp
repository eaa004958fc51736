#include "audio/fill_loop.h"

#include "audio/format.h"
#include "utils/errors.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace Audio {

namespace {

// Frames asked of the source at a time, and the size of the downmix arrays.
constexpr int chunkCapacity = framesPerBuffer;
// Silence and what borders it fade over this long, so that no click is heard.
constexpr double fadeSeconds = 0.005;
// A jump of the stream's position beyond this is no lost audio but a
// stream that went elsewhere: it is played on at once.
constexpr double maxMissingSeconds = 60.0;
// How long keeping the cushion may hold the decoder after a gap, at most.
constexpr double maxCushionWaitSeconds = 3.0;
constexpr std::chrono::milliseconds cushionStep{20};

} // namespace

FillLoop::FillLoop(FrameSource& source, Intake& intake, Converter& converter)
    : _source(source)
    , _intake(intake)
    , _conversion(converter)
    , _mixLeft(chunkCapacity)
    , _mixRight(chunkCapacity)
    , _zeros(chunkCapacity, 0.0f)
{
}

void FillLoop::start(Sink& sink)
{
    stop();
    _sink = &sink;
    _clock.reset(static_cast<double>(sink.bufSize()) / sampleRate, Sink::Clock::now());
    _ledger.reset();
    _starvedSeen = sink.deviceClock().starvedFrames;
    _serverSilentSeen = sink.deviceClock().serverSilentFrames;
    _serverGapsSeen = sink.deviceClock().serverGaps;
    _gapSeen = false;
}

void FillLoop::stop()
{
    _sink = nullptr;
    _chunkFrames = 0;
    _ending = false;
    _conversion.reset();
    _stage.clear();
    _zerosLeft = 0;
    _stagedLeft = 0;
}

void FillLoop::fill()
{
    const int total = _sink->bufSize();
    int filled = 0;
    while (filled < total) {
        if (_conversion.flushing()) {
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
    // The kernel dates each datagram's arrival, so what came while the
    // device played is taken once it has asked, all at once: one wake-up
    // per buffer, not one per datagram.
    _sink->trigger();
    _intake.drain();
    afterHandOver();
}

// Decodes the next frames into _chunk, or notes why there are none.
void FillLoop::readChunk(int filled, int room)
{
    if (_stage.active() && _stage.frames() > HoleStage::capacity - chunkCapacity) {
        releaseStage(0, filled); // no place came: play it as it is
        return;
    }
    const FrameSource::Decoded d = _source.decodeFrames(std::min(_conversion.inputFor(room), chunkCapacity));
    switch (d.kind) {
    case FrameSource::Decoded::Kind::Frames:
        if (_stage.active())
            stage(d.pcm, d.frames, filled);
        else
            takeChunk(d.pcm, d.frames);
        return;
    case FrameSource::Decoded::Kind::Hole:
        if (!_stage.active()) {
            _stage.begin(_source.position());
            _stageLink = _source.link().index;
        }
        return;
    case FrameSource::Decoded::Kind::BadLink:
        return;
    case FrameSource::Decoded::Kind::Stopped:
        if (_stage.active())
            releaseStage(0, filled);
        _ending = true;
        _conversion.stopped(_intake.linkEnded());
        return;
    }
}

// Stereo of the source's arrays: mono is played on both sides, more
// channels are folded down.
void FillLoop::stereo(float** pcm, int frames, float*& left, float*& right)
{
    const int channels = _source.link().channels;
    if (channels == 1 || channels == 2) {
        left = pcm[0];
        right = pcm[channels - 1];
        return;
    }
    if (_downmix.channels() != channels)
        _downmix = Downmix(channels);
    _downmix.mix(pcm, frames, _mixLeft.data(), _mixRight.data());
    left = _mixLeft.data();
    right = _mixRight.data();
}

void FillLoop::takeChunk(float** pcm, int frames)
{
    stereo(pcm, frames, _chunk[0], _chunk[1]);
    _chunkFrames = frames;
    _chunkIsStream = true;
    useRate(_source.link().rate);
}

void FillLoop::useRate(long rate)
{
    if (!_conversion.use(rate))
        _chunkFrames = 0;
}

// The silence of lost audio first, then what was decoded after the hole.
bool FillLoop::loadPending()
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

int FillLoop::playChunk(int offset, int room)
{
    int used = 0;
    const int written = _conversion.convert(_chunk, _chunkFrames, used, *_sink, offset, room);
    _chunk[0] += used;
    _chunk[1] += used;
    _chunkFrames -= used;
    if (_chunkIsStream)
        _ledger.played(written);
    return written;
}

// The last frames of the previous rate; once they are out, the frames
// waiting in _chunk, if any, go through the rate set up for them.
int FillLoop::playTail(int offset, int room)
{
    const int n = _conversion.flush(*_sink, offset, room, _clock.speed());
    if (n > 0)
        _ledger.played(n);
    return n;
}

// Decoding cannot go on for now: the frames decoded so far are played at
// once, completed with silence, rather than held back or thrown away.
void FillLoop::playPartial(int filled)
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

// Frames decoded after a hole wait until the source knows their place
// again, which it does once it has decoded the packet that ends a page.
void FillLoop::stage(float** pcm, int frames, int filled)
{
    float* left = nullptr;
    float* right = nullptr;
    stereo(pcm, frames, left, right);
    _stage.add(left, right, frames);
    if (_source.link().index != _stageLink) {
        releaseStage(0, filled); // a new link: nothing of the old one is missing
        return;
    }
    if (!_source.positionKnown())
        return;
    const int64_t first = _source.position() - _stage.frames();
    releaseStage(first - _stage.holeAt(), filled);
}

// What was staged plays next, after silence for `missingFrames` of the
// link (less what the device already played as silence meanwhile), with a
// fade on each side of it.
void FillLoop::releaseStage(int64_t missingFrames, int filled)
{
    noteStarvation(); // the device may have played silence for it already
    const long linkRate = _source.link().rate;
    const double rate = linkRate > 0 ? static_cast<double>(linkRate) : sampleRate;
    if (missingFrames > 0 && static_cast<double>(missingFrames) < maxMissingSeconds * rate)
        playSilenceFor(missingFrames, rate, filled);
    if (_ledger.silenceSinceAudio() > 0 || _zerosLeft > 0)
        _stage.fadeIn(static_cast<int>(fadeSeconds * rate));
    _stagedLeft = _stage.frames();
    _stage.clear();
    useRate(linkRate); // a hole at a link's start: its rate is not set up yet
}

// The silence of `missingFrames` lost frames of a link at `rate`, less what
// the device has played as silence for them already.
void FillLoop::playSilenceFor(int64_t missingFrames, double rate, int filled)
{
    const double toOutput = sampleRate / rate / _clock.speed();
    const auto silence = _ledger.missing(std::llround(static_cast<double>(missingFrames) * toOutput));
    _zerosLeft = std::llround(static_cast<double>(silence) / toOutput);
    // What the device played meanwhile was the lost audio's, not late data's.
    _gapSeen = _gapSeen && _ledger.lateSinceAudio() > 0;
    if (silence > 0 && filled > 0)
        fadeOutBefore(_sink->frameData(filled), std::min(filled, int(fadeSeconds * sampleRate)));
}

void FillLoop::arrived(const PageArrival& page)
{
    if (!_sink)
        return;
    const FrameSource::Link link = _source.link();
    // Pages of a link not decoded yet: its rate is not known.
    if (link.rate <= 0 || page.serial != link.serial)
        return;
    _clock.arrived(page, static_cast<double>(link.rate));
}

// Seconds of the stream that have arrived and wait ahead of the device:
// not decoded yet, decoded and not played, and the buffer just handed over.
double FillLoop::heldSeconds() const
{
    const PageArrival& newest = _intake.newest();
    const FrameSource::Link link = _source.link();
    if (link.rate <= 0 || !newest.known)
        return 0;
    if (newest.serial != link.serial)
        return maxCushionWaitSeconds; // the next link is arriving already
    const auto pending = static_cast<double>(newest.granule - _source.position() + _chunkFrames);
    return pending / static_cast<double>(link.rate) + static_cast<double>(_sink->bufSize()) / sampleRate;
}

// Once per buffer handed over: what the device played as silence meanwhile,
// and the speed of the next buffer.
void FillLoop::afterHandOver(bool flowing)
{
    if (flowing) {
        noteStarvation();
        if (_gapSeen)
            keepCushion();
        _gapSeen = false;
    }
    _clock.deviceAsked(_sink->deviceClock());
    _conversion.follow(_clock.follow(), _sink->bufSize());
}

// What the device has played as silence since the last look. The silence
// the server played on its own is heard as a gap too, but no data came
// late: it asks for no cushion.
void FillLoop::noteStarvation()
{
    const Sink::DeviceClock clock = _sink->deviceClock();
    if (clock.starvedFrames > _starvedSeen) {
        _ledger.starved(clock.starvedFrames - _starvedSeen);
        _gapSeen = true;
    }
    _starvedSeen = clock.starvedFrames;
    _ledger.serverSilence(clock.serverSilentFrames - _serverSilentSeen, clock.serverGaps - _serverGapsSeen);
    _serverSilentSeen = clock.serverSilentFrames;
    _serverGapsSeen = clock.serverGaps;
}

// Data came late and the device played silence: before playing on, hold
// what the sender's pacing needs, so that this gap is the last.
void FillLoop::keepCushion()
{
    const double wanted = _clock.cushionAfterGap();
    const auto deadline = Sink::Clock::now()
                          + std::chrono::duration_cast<Sink::Clock::duration>(
                              std::chrono::duration<double>(std::min(wanted, maxCushionWaitSeconds)));
    while (heldSeconds() < wanted && Sink::Clock::now() < deadline && !_intake.stopRequested())
        _intake.takeUntil(std::min(deadline, Sink::Clock::now() + cushionStep));
}

} // namespace Audio
