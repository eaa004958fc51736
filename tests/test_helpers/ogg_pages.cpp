#include "test_helpers/ogg_pages.h"

#include <algorithm>
#include <cstring>

namespace TestHelpers {

Bytes vorbisIdPacket(long rate, int channels)
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

int64_t granuleOf(const Bytes& page)
{
    int64_t granule = 0;
    std::memcpy(&granule, page.data() + 6, sizeof granule); // little-endian, as the format is
    return granule;
}

Bytes cutOff(const Bytes& stream, double seconds, long rate, std::size_t& frames)
{
    Bytes out;
    frames = 0;
    for (const Bytes& page : splitPages(stream)) {
        if (granuleOf(page) > static_cast<int64_t>(seconds * static_cast<double>(rate)))
            break;
        out.insert(out.end(), page.begin(), page.end());
        frames = std::max(frames, static_cast<std::size_t>(std::max<int64_t>(granuleOf(page), 0)));
    }
    return out;
}

void appendPage(Bytes& out, const ogg_page& og)
{
    out.insert(out.end(), og.header, og.header + og.header_len);
    out.insert(out.end(), og.body, og.body + og.body_len);
}

Bytes makeLink(uint32_t serial, long rate, const std::vector<int64_t>& granules, bool eos, size_t packetBytes,
               Bytes idPacket)
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

Bytes endlessPacketPage(uint32_t serial, uint32_t sequence)
{
    const int segments = 255;
    Bytes page(27 + segments, 0);
    const char magic[] = "OggS";
    std::copy(magic, magic + 4, page.begin());
    page[5] = sequence > 0 ? 0x01 : 0x00; // continues the packet of the page before
    for (int i = 6; i < 14; ++i)
        page[i] = 0xff; // granule -1: no packet ends here
    for (int i = 0; i < 4; ++i) {
        page[14 + i] = static_cast<unsigned char>(serial >> (8 * i));
        page[18 + i] = static_cast<unsigned char>(sequence >> (8 * i));
    }
    page[26] = segments;
    std::fill(page.begin() + 27, page.end(), 255);
    page.resize(page.size() + 255 * segments, 0x33);
    ogg_page og{};
    og.header = page.data();
    og.header_len = 27 + segments;
    og.body = page.data() + og.header_len;
    og.body_len = 255 * segments;
    ogg_page_checksum_set(&og);
    return page;
}

Bytes pageHeader(uint32_t serial, unsigned char flags, const std::vector<unsigned char>& lacing)
{
    Bytes header(27, 0);
    const char magic[] = "OggS";
    std::copy(magic, magic + 4, header.begin());
    header[5] = flags;
    for (int i = 0; i < 4; ++i)
        header[14 + i] = static_cast<unsigned char>(serial >> (8 * i));
    header[26] = static_cast<unsigned char>(lacing.size());
    header.insert(header.end(), lacing.begin(), lacing.end());
    return header;
}

} // namespace TestHelpers
