#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Ogg Vorbis test streams made on the fly, and the tools to cut them into
// datagrams and to decode them the way the receiver should.
namespace TestHelpers {

using Bytes = std::vector<unsigned char>;

struct OggParams {
    int channels = 2;  // 1 to 8
    long rate = 44100; // Hz
    double seconds = 1.0;
    float quality = 4; // 0 to 10, as the sender's --quality
    int serial = 1;    // Ogg logical stream serial number
    // Channel k at 440 + 220 k Hz: left 440, right 660. With sweep, all rise
    // slowly over the stream, so that no two stretches look alike and a
    // recording aligns with the reference at one offset only.
    bool sweep = true;
    float amplitude = 0.5f;
    // With a period, every channel is loud (markerGain times) for the
    // first 10 ms of each period: marks whose place in a recording tells
    // when each part of the stream was played (see markers.h).
    double markerSeconds = 0;
    // White noise of this amplitude under the tones, for a bit rate and
    // page lengths like music's (a pure tone needs few bits: its pages last
    // a second or more). The same each time.
    float noise = 0;
};

constexpr float markerGain = 3.5f;

// A stream with pages of about 0.3 s, as music's are at 120 kbit/s: the
// test tones with noise under them.
OggParams musicLike(double seconds, int serial = 1);

// The sample the encoder is fed for channel ch at frame i.
float testSignal(const OggParams& params, int ch, long i);

// A whole stream: headers, audio, end-of-stream page.
Bytes encodeOgg(const OggParams& params);

// Byte strings one after another: datagrams as a reader of the byte stream
// gets them.
Bytes concat(const std::vector<Bytes>& parts);
// The links of a chained stream, one after another; give each link its own
// serial number.
Bytes chainOgg(const std::vector<Bytes>& links);

// Deterministic pseudo-random bytes that are not an Ogg stream.
Bytes garbageBytes(size_t count, uint32_t seed = 1);

// Consecutive slices of n bytes (the last one may be shorter).
std::vector<Bytes> splitDatagrams(const Bytes& stream, size_t n);

// Whole Ogg pages, one page per datagram; with maxBytes > 0 consecutive
// pages are packed together while they fit in maxBytes (a larger page
// still goes alone).
std::vector<Bytes> splitPages(const Bytes& stream, size_t maxBytes = 0);

// A stream in memory as libvorbisfile's data source, unseekable: pass the
// source to ov_open_callbacks with `read` as the read callback and no others.
struct MemorySource {
    const Bytes* data;
    size_t pos = 0;
    static size_t read(void* ptr, size_t size, size_t nmemb, void* source);
};

// Decodes a whole stream from memory with libvorbisfile (unseekable, as
// the receiver reads it) into interleaved stereo floats at the stream's own
// rate. A mono link is on both sides; links of more channels are silence
// of the same length here.
// Returns the frame count of every link in linkFrames, and counts the
// holes the library met in holes, when given.
std::vector<float> referenceDecode(const Bytes& stream, std::vector<long>* linkFrames = nullptr,
                                   long* holes = nullptr);

} // namespace TestHelpers
