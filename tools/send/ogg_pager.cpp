#include "send/ogg_pager.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace Send {

namespace {

const size_t pageHeaderSize = 27;
const size_t maxSegments = 255;
const size_t segmentSize = 255;

void putLe(unsigned char* p, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

OggPager::OggPager(uint32_t serial, long rate, int channels, size_t maxPageBytes)
    : _serial(serial), _rate(rate), _channels(channels), _maxPageBytes(maxPageBytes)
{
    // The smallest page must hold a header, one lacing value and a full
    // segment, or a long packet could never be laid out.
    if (maxPageBytes < pageHeaderSize + 1 + segmentSize)
        throw std::logic_error("OggPager: pages of " + std::to_string(maxPageBytes) + " bytes are too small");
}

void OggPager::add(const unsigned char* data, size_t size, int64_t granule, bool eos)
{
    // A packet is full segments and one shorter one (0 bytes for a length
    // that is a multiple of 255), which ends it.
    size_t done = 0;
    while (size - done >= segmentSize) {
        addSegment(data + done, segmentSize, done > 0);
        done += segmentSize;
    }
    addSegment(data + done, size - done, done > 0);
    _granule = granule;
    if (eos) {
        _eos = true;
        endPage();
    }
}

void OggPager::addSegment(const unsigned char* data, size_t size, bool continues)
{
    if (!fits(size)) {
        endPage();
        _continued = continues;
    }
    _lacing.push_back(static_cast<unsigned char>(size));
    _body.insert(_body.end(), data, data + size);
}

bool OggPager::fits(size_t size) const
{
    return _lacing.size() < maxSegments
           && pageHeaderSize + _lacing.size() + 1 + _body.size() + size <= _maxPageBytes;
}

void OggPager::flush()
{
    endPage();
}

void OggPager::endPage()
{
    if (_lacing.empty())
        return;
    OggPage page;
    page.bytes.assign(pageHeaderSize, 0);
    unsigned char* h = page.bytes.data();
    std::copy_n("OggS", 4, h);
    h[5] = static_cast<unsigned char>((_continued ? 1 : 0) | (_bos ? 2 : 0) | (_eos ? 4 : 0));
    putLe(h + 6, static_cast<uint64_t>(_granule), 8);
    putLe(h + 14, _serial, 4);
    putLe(h + 18, _sequence++, 4);
    h[26] = static_cast<unsigned char>(_lacing.size());
    page.bytes.insert(page.bytes.end(), _lacing.begin(), _lacing.end());
    page.bytes.insert(page.bytes.end(), _body.begin(), _body.end());

    ogg_page og;
    og.header = page.bytes.data();
    og.header_len = static_cast<long>(pageHeaderSize + _lacing.size());
    og.body = og.header + og.header_len;
    og.body_len = static_cast<long>(_body.size());
    ogg_page_checksum_set(&og);

    page.granule = _granule;
    page.serial = _serial;
    page.bos = _bos;
    page.eos = _eos;
    if (_bos) {
        page.sampleRate = _rate;
        page.channels = _channels;
    }
    _ready.push_back(std::move(page));
    _bos = false;
    _lacing.clear();
    _body.clear();
    _granule = -1;
    _continued = false;
}

bool OggPager::pageOut(OggPage& page)
{
    if (_ready.empty())
        return false;
    page = std::move(_ready.front());
    _ready.pop_front();
    return true;
}

} // namespace Send
