#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct OggVorbis_File;

namespace Wrappers {

class AudioIO;
class Net;

// Decodes an Ogg Vorbis stream read from a Net into full buffers of an
// AudioIO. Used by one thread.
class AudioDec {
public:
    AudioDec();
    ~AudioDec();
    AudioDec(const AudioDec&) = delete;
    AudioDec& operator=(const AudioDec&) = delete;

    // Opens the stream; throws Utils::AdReadError, Utils::AdDataError or
    // Utils::AdError. net and aio must outlive the opening.
    void init(Net* net, AudioIO* aio);
    // Decodes one full buffer and triggers the output. Throws
    // Utils::AdReadError when the stream ended or stalled.
    void decode();
    bool isInitialized() const;
    // Releases the stream state; isInitialized() is false afterwards.
    void close();

    static size_t cbRead(void* ptr, size_t size, size_t nmemb, void* datasource);
    static int cbSeek(void* datasource, int64_t offset, int whence);
    static int cbClose(void* datasource);
    static long cbTell(void* datasource);

private:
    // The library's stream state, allocated once with the decoder so that
    // no reception run allocates it again.
    std::unique_ptr<OggVorbis_File> _vf;
    int _section;
    Net* _net;
    AudioIO* _aio;
    bool _initialized;
};

} // namespace Wrappers
