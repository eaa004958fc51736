#include "wrappers/vorbis_header_guard.h"

#include "audio/intake/page_fields.h"
#include "utils/console.h"
#include "wrappers/header_streams.h"

#include <ogg/ogg.h>

#include <cmath>

namespace Wrappers {

namespace {

constexpr int setupPacket = 3;
constexpr long codebookSync = 0x564342;

int ilog(long v)
{
    int bits = 0;
    for (; v > 0; v >>= 1)
        ++bits;
    return bits;
}

enum class Lengths { RanOut, Sound, Unsound };

// The codeword lengths of a codebook, and whether they make a whole prefix
// code: the library refuses a tree with too many or too few leaves, but
// only once it decodes, and then decodes with the books it made before, of
// which the rest have no dimension. A single codeword is the one tree that
// may be incomplete.
Lengths readLengths(oggpack_buffer& b, long entries)
{
    constexpr uint64_t whole = uint64_t{1} << 32;
    uint64_t kraft = 0;
    long used = 0;
    const auto add = [&](long length, long count) {
        kraft += static_cast<uint64_t>(count) * (whole >> length);
        used += count;
    };
    const long ordered = oggpack_read(&b, 1);
    if (ordered < 0)
        return Lengths::RanOut;
    if (ordered == 0) {
        const long sparse = oggpack_read(&b, 1);
        for (long i = 0; i < entries; ++i) {
            if (sparse == 1 && oggpack_read(&b, 1) != 1)
                continue;
            const long length = oggpack_read(&b, 5) + 1;
            if (length <= 0)
                return Lengths::RanOut;
            add(length, 1);
        }
    } else {
        long length = oggpack_read(&b, 5) + 1;
        for (long i = 0; i < entries; ++length) {
            const long number = oggpack_read(&b, ilog(entries - i));
            if (number < 0 || length > 32)
                return number < 0 ? Lengths::RanOut : Lengths::Unsound;
            add(length, number);
            i += number;
        }
    }
    return used <= 1 || kraft == whole ? Lengths::Sound : Lengths::Unsound;
}

// The largest value whose dim-th power is at most entries.
long lookup1Values(long entries, long dim)
{
    auto values =
        static_cast<long>(std::floor(std::pow(static_cast<double>(entries), 1.0 / static_cast<double>(dim))));
    const auto power = [dim](long v) {
        double p = 1;
        for (long i = 0; i < dim && p <= 1e12; ++i)
            p *= static_cast<double>(v);
        return p;
    };
    while (values > 0 && power(values) > static_cast<double>(entries))
        --values;
    while (power(values + 1) <= static_cast<double>(entries))
        ++values;
    return values;
}

bool skipLookup(oggpack_buffer& b, long dim, long entries)
{
    const long type = oggpack_read(&b, 4);
    if (type == 0)
        return true;
    if (type != 1 && type != 2)
        return false;
    oggpack_read(&b, 32);
    oggpack_read(&b, 32);
    const long bits = oggpack_read(&b, 4) + 1;
    if (oggpack_read(&b, 1) < 0)
        return false;
    const long values = type == 1 ? lookup1Values(entries, dim) : entries * dim;
    for (long i = 0; i < values; ++i) {
        if (oggpack_read(&b, static_cast<int>(bits)) < 0)
            return false;
    }
    return true;
}

} // namespace

VorbisHeaderGuard::VorbisHeaderGuard() : _streams(std::make_unique<HeaderStreams>())
{
}

VorbisHeaderGuard::~VorbisHeaderGuard() = default;

void VorbisHeaderGuard::reset()
{
    _streams->reset();
}

bool VorbisHeaderGuard::admit(const unsigned char* page, std::size_t length)
{
    const uint32_t serial = Audio::PageFields::serial(page);
    HeaderStreams::Stream* s =
        Audio::PageFields::first(page) ? &_streams->begin(serial) : _streams->find(serial);
    if (!s || s->done)
        return !s || !s->refused;
    ogg_page og = _streams->copy(page, Audio::PageFields::headerLength(page), length);
    ogg_stream_pagein(&s->state, &og);
    ogg_packet packet;
    while (!s->done && ogg_stream_packetout(&s->state, &packet) == 1) {
        if (++s->packets < setupPacket)
            continue;
        s->done = true;
        s->refused = !codebooksSound(packet.packet, packet.bytes);
        ogg_stream_reset(&s->state);
        if (s->refused)
            Utils::printErr(
                "vorbisDecoder: a stream's setup header has a codebook that cannot be decoded; refused\n");
    }
    return !s->refused;
}

bool VorbisHeaderGuard::codebooksSound(unsigned char* packet, long bytes)
{
    oggpack_buffer b;
    oggpack_readinit(&b, packet, static_cast<int>(bytes));
    if (oggpack_read(&b, 8) != 5)
        return true;
    for (const char c : {'v', 'o', 'r', 'b', 'i', 's'}) {
        if (oggpack_read(&b, 8) != c)
            return true;
    }
    const long books = oggpack_read(&b, 8) + 1;
    for (long i = 0; i < books; ++i) {
        if (oggpack_read(&b, 24) != codebookSync)
            return true;
        const long dim = oggpack_read(&b, 16);
        const long entries = oggpack_read(&b, 24);
        if (dim == 0)
            return false;
        if (dim < 0 || entries < 0)
            return true;
        const Lengths lengths = readLengths(b, entries);
        if (lengths != Lengths::Sound)
            return lengths == Lengths::RanOut;
        if (!skipLookup(b, dim, entries))
            return true;
    }
    return true;
}

} // namespace Wrappers
