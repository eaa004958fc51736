#pragma once

// Ogg streams with exactly known granule positions for the sender's tests:
// a Vorbis identification header on the BOS page (nothing decodable after
// it), then one page per granule position given.

#include <ogg/ogg.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace ToolTest {

using Bytes = std::vector<unsigned char>;

inline Bytes vorbisIdPacket(long rate, int channels)
{
    Bytes p(30, 0);
    p[0] = 1;
    std::memcpy(&p[1], "vorbis", 6);
    p[11] = static_cast<unsigned char>(channels);
    for (int i = 0; i < 4; ++i)
        p[12 + i] = static_cast<unsigned char>(static_cast<uint32_t>(rate) >> (8 * i));
    p[28] = 0xb8; // block sizes 256 and 2048
    p[29] = 1;    // framing bit
    return p;
}

inline void appendPage(Bytes& out, const ogg_page& og)
{
    out.insert(out.end(), og.header, og.header + og.header_len);
    out.insert(out.end(), og.body, og.body + og.body_len);
}

// One logical stream: the BOS page, then a page per granule (each with one
// packet of packetBytes bytes); the last page carries EOS when eos is set.
inline Bytes makeLink(uint32_t serial, long rate, const std::vector<int64_t>& granules, bool eos = true,
                      size_t packetBytes = 100, Bytes idPacket = Bytes())
{
    if (idPacket.empty())
        idPacket = vorbisIdPacket(rate, 2);
    ogg_stream_state os;
    ogg_stream_init(&os, static_cast<int>(serial));
    Bytes out;
    ogg_packet op{};
    op.packet = idPacket.data();
    op.bytes = static_cast<long>(idPacket.size());
    op.b_o_s = 1;
    op.granulepos = 0;
    ogg_stream_packetin(&os, &op);
    ogg_page og;
    while (ogg_stream_flush(&os, &og))
        appendPage(out, og);
    Bytes body(packetBytes, 0x5a);
    for (size_t i = 0; i < granules.size(); ++i) {
        ogg_packet ap{};
        ap.packet = body.data();
        ap.bytes = static_cast<long>(body.size());
        ap.granulepos = granules[i];
        ap.packetno = static_cast<ogg_int64_t>(i + 1);
        ap.e_o_s = (eos && i + 1 == granules.size()) ? 1 : 0;
        ogg_stream_packetin(&os, &ap);
        while (ogg_stream_flush(&os, &og))
            appendPage(out, og);
    }
    ogg_stream_clear(&os);
    return out;
}

} // namespace ToolTest
