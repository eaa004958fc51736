#include "wrappers/audiodec.h"

#include "utils/errors.h"
#include "wrappers/audioio.h"
#include "wrappers/net.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <climits>
#include <cstdio>

namespace Wrappers {

namespace {

// How long one library read waits for a datagram.
const int readTimeoutMs = 999;

const char* codeName(long r)
{
    switch (r) {
    case OV_FALSE: return "OV_FALSE";
    case OV_EREAD: return "OV_EREAD";
    case OV_EFAULT: return "OV_EFAULT";
    case OV_EIMPL: return "OV_EIMPL";
    case OV_EINVAL: return "OV_EINVAL";
    case OV_ENOTVORBIS: return "OV_ENOTVORBIS";
    case OV_EBADHEADER: return "OV_EBADHEADER";
    case OV_EVERSION: return "OV_EVERSION";
    case OV_ENOTAUDIO: return "OV_ENOTAUDIO";
    case OV_EBADPACKET: return "OV_EBADPACKET";
    case OV_ENOSEEK: return "OV_ENOSEEK";
    default: return nullptr;
    }
}

} // namespace

AudioDec::AudioDec()
    : _vf(new OggVorbis_File()), _section(0), _net(nullptr), _aio(nullptr), _initialized(false)
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
    _net = nullptr;
    _aio = nullptr;
    switch (r) {
    case OV_EREAD:
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
        float** pcm = nullptr;
        long r = ov_read_float(_vf.get(), &pcm, total - filled, &_section);
        if (r == OV_HOLE) {
            std::printf("vorbisDecoder: OV_HOLE\n");
            continue;
        }
        if (r == OV_EBADLINK) {
            std::printf("vorbisDecoder: OV_EBADLINK\n");
            continue;
        }
        if (r == 0) {
            std::printf("vorbisDecoder: EOF\n");
            throw Utils::AdReadError();
        }
        if (r < 0) {
            const char* name = codeName(r);
            if (name)
                std::printf("vorbisDecoder: %s\n", name);
            else
                std::printf("vorbisDecoder: error %ld\n", r);
            throw Utils::AdReadError();
        }

        // Frames of a link that is not stereo still take their place in
        // the buffer, as silence, so the device never replays old frames.
        vorbis_info* vi = ov_info(_vf.get(), -1);
        if (vi && vi->channels == 2)
            _aio->write(pcm, filled, int(r));
        else
            _aio->silence(filled, int(r));
        filled += int(r);
    }
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
}

// Called by the library on the decoding thread, inside ov_open_callbacks
// and ov_read_float. Returns one datagram (or the rest of one), never 0:
// the library would take 0 for the end of the stream, or for an error when
// errno happens to be set.
size_t AudioDec::cbRead(void* ptr, size_t size, size_t nmemb, void* datasource)
{
    try {
        auto* dec = static_cast<AudioDec*>(datasource);
        if (!dec || !dec->_net || size == 0 || nmemb == 0)
            return size_t(-1);
        // The library reads with an element size of 1, so bytes are elements.
        int count = nmemb > size_t(INT_MAX) / size ? int(INT_MAX / size) : int(nmemb);
        int n = dec->_net->receive(ptr, int(size), count, readTimeoutMs);
        if (n <= 0)
            return size_t(-1);
        return size_t(n);
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
