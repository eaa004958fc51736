#include "wrappers/audiodec.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

namespace Wrappers {

namespace {

// How long one library read waits for a datagram.
const int readTimeoutMs = 999;

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
    , _loop(*this, _input, _resampler)
{
    _input.setArrivalListener([this](const OggInput::Newest& page) {
        if (_initialized)
            _loop.arrived(page);
    });
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
    _closedCounts = OggInput::Counts();
    _loop.start(*sink);
    _input.reset(net);

    ov_callbacks callbacks;
    callbacks.read_func = cbRead;
    callbacks.seek_func = cbSeek;
    callbacks.close_func = cbClose;
    callbacks.tell_func = cbTell;
    const int r = ov_open_callbacks(this, _vf.get(), nullptr, 0, callbacks);
    if (r != 0)
        openingFailed(r);
    _initialized = true;
}

// The library has released what it had; clearing again is harmless and
// leaves the state zeroed whatever the code was.
void AudioDec::openingFailed(int code)
{
    ov_clear(_vf.get());
    const bool foreign = _input.foreign();
    _net = nullptr;
    _sink = nullptr;
    _input.reset(nullptr);
    _loop.stop();
    switch (code) {
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
    try {
        _loop.fill();
    } catch (const Utils::AdReadError&) {
        if (_input.broken())
            throw Utils::NetError();
        throw;
    }
}

// Called by the fill loop. The library's results other than frames are
// printed here, by their names.
Audio::FrameSource::Decoded AudioDec::decodeFrames(int most)
{
    Decoded d;
    const long r = ov_read_float(_vf.get(), &d.pcm, most, &_section);
    if (r > 0) {
        d.kind = Decoded::Kind::Frames;
        d.frames = static_cast<int>(r);
        return d;
    }
    if (r == OV_HOLE || r == OV_EBADLINK) {
        std::printf("vorbisDecoder: %s\n", r == OV_HOLE ? "OV_HOLE" : "OV_EBADLINK");
        d.kind = r == OV_HOLE ? Decoded::Kind::Hole : Decoded::Kind::BadLink;
        return d;
    }
    const char* name = r == 0 ? "EOF" : codeName(r);
    if (name)
        std::printf("vorbisDecoder: %s\n", name);
    else
        std::printf("vorbisDecoder: error %ld\n", r);
    d.kind = Decoded::Kind::Stopped;
    return d;
}

Audio::FrameSource::Link AudioDec::link() const
{
    Link l;
    const vorbis_info* vi = ov_info(_vf.get(), -1);
    if (vi) {
        l.rate = vi->rate;
        l.channels = vi->channels;
    }
    l.serial = static_cast<uint32_t>(ov_serialnumber(_vf.get(), -1));
    l.index = _section;
    return l;
}

int64_t AudioDec::position() const
{
    return ov_pcm_tell(_vf.get());
}

// The library keeps the granule position of the last packet decoded only
// where a page ended; after a hole it has none until then.
bool AudioDec::positionKnown() const
{
    return _vf->vd.granulepos != -1;
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
    _loop.stop();
}

void AudioDec::setStopCheck(std::function<bool()> stopRequested)
{
    _input.setStopCheck(std::move(stopRequested));
}

AudioDec::Report AudioDec::report() const
{
    Report r;
    r.gaps = _loop.gaps();
    r.slowest = _loop.slowest();
    r.fastest = _loop.fastest();
    const OggInput::Counts& c = _net ? _input.counts() : _closedCounts;
    r.pagesLost = c.pagesLost;
    r.pagesRefused = c.pagesRefused;
    r.pagesRebuilt = c.pagesRebuilt;
    r.duplicates = c.duplicates;
    r.reordered = c.reordered;
    return r;
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
