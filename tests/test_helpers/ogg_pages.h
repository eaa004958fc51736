#pragma once

#include "test_helpers/ogg_maker.h"

#include <ogg/ogg.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// Ogg streams with exactly known granule positions for the sender's tests:
// a Vorbis identification header on the BOS page (nothing decodable after
// it), then one page per granule position given.
namespace TestHelpers {

Bytes vorbisIdPacket(long rate, int channels);

void appendPage(Bytes& out, const ogg_page& og);

// One logical stream: the BOS page, then a page per granule (each with one
// packet of packetBytes bytes); the last page carries EOS when eos is set.
Bytes makeLink(uint32_t serial, long rate, const std::vector<int64_t>& granules, bool eos = true,
               size_t packetBytes = 100, Bytes idPacket = Bytes());

// The granule position a page carries (-1: no packet ends on it).
int64_t granuleOf(const Bytes& page);

// The pages of a stream whose granule positions lie within `seconds` at
// `rate`, as an encoder sends them before it dies: no end-of-stream page.
// `frames` is where the last of them ends.
Bytes cutOff(const Bytes& stream, double seconds, long rate, std::size_t& frames);

// A page of 65 025 bytes that only continues one packet and never ends it;
// sequence 0 starts the packet. Largest that fits one datagram.
Bytes endlessPacketPage(uint32_t serial, uint32_t sequence);

// The header alone of a page of `serial` (no body, no checksum), with the
// header flags (0x01 continued, 0x02 first, 0x04 last) and lacing values
// given, for tests of what reads nothing but the header.
Bytes pageHeader(uint32_t serial, unsigned char flags, const std::vector<unsigned char>& lacing = {10});

} // namespace TestHelpers
