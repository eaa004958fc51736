#include "wrappers/header_streams.h"

#include "audio/intake/page_fields.h"

#include <algorithm>

namespace Wrappers {

HeaderStreams::HeaderStreams() : _page(Audio::PageFields::maxPage)
{
    for (Stream& s : _all)
        ogg_stream_init(&s.state, 0);
}

HeaderStreams::~HeaderStreams()
{
    for (Stream& s : _all)
        ogg_stream_clear(&s.state);
}

void HeaderStreams::reset()
{
    for (Stream& s : _all)
        s.used = false;
}

HeaderStreams::Stream* HeaderStreams::find(uint32_t serial)
{
    for (Stream& s : _all) {
        if (s.used && s.serial == serial)
            return &s;
    }
    return nullptr;
}

HeaderStreams::Stream& HeaderStreams::begin(uint32_t serial)
{
    Stream& s = _all[static_cast<std::size_t>(_next)];
    _next = (_next + 1) % maxStreams;
    ogg_stream_reset_serialno(&s.state, static_cast<int>(serial));
    s.serial = serial;
    s.packets = 0;
    s.used = true;
    s.refused = false;
    s.done = false;
    return s;
}

ogg_page HeaderStreams::copy(const unsigned char* page, std::size_t headerLength, std::size_t length)
{
    const std::size_t n = std::min(length, _page.size());
    std::copy_n(page, n, _page.begin());
    ogg_page og;
    og.header = _page.data();
    og.header_len = static_cast<long>(headerLength);
    og.body = og.header + og.header_len;
    og.body_len = static_cast<long>(n) - og.header_len;
    return og;
}

} // namespace Wrappers
