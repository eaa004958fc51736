#include "send/ogg_page_reader.h"

#include "audio/intake/page_fields.h"

#include <algorithm>
#include <cstring>

namespace Send {

namespace {

using Audio::PageFields;

const size_t readChunk = 4096;
const size_t serialAt = 14; // where a page header keeps its serial number
const size_t vorbisIdSize = 30;
// A link's header pages are a few kilobytes; comments with pictures can
// make them larger, but not without bound.
const size_t maxHeaderBytes = 1 << 20;

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The rate and channels of a Vorbis identification header at the start of
// a BOS page's body, or leaves them 0.
void readVorbisId(const ogg_page& og, OggPage& page)
{
    const unsigned char* lacing = og.header + PageFields::fixedLength;
    const size_t segments = PageFields::headerLength(og.header) - PageFields::fixedLength;
    size_t firstPacket = 0;
    for (size_t i = 0; i < segments; ++i) {
        firstPacket += lacing[i];
        if (lacing[i] < 255)
            break;
    }
    const unsigned char* p = og.body;
    if (firstPacket < vorbisIdSize || static_cast<size_t>(og.body_len) < vorbisIdSize)
        return;
    if (p[0] != 1 || std::memcmp(p + 1, "vorbis", 6) != 0 || le32(p + 7) != 0)
        return;
    long rate = static_cast<long>(le32(p + 12));
    int channels = p[11];
    if (rate <= 0 || channels == 0 || (p[29] & 1) == 0)
        return;
    page.sampleRate = rate;
    page.channels = channels;
}

} // namespace

OggPageReader::OggPageReader(InputStream& in) : _in(in)
{
    ogg_sync_init(&_sync);
}

OggPageReader::~OggPageReader()
{
    ogg_sync_clear(&_sync);
}

bool OggPageReader::next(OggPage& page)
{
    if (_replaying && _replayAt < _header.size()) {
        page = _header[_replayAt++];
        return true;
    }
    _replaying = false;
    if (!readPage(page))
        return false;
    if (!_in.seekable())
        keepHeader(page);
    page.joined = _joinNext;
    _joinNext = false;
    return true;
}

void OggPageReader::keepHeader(const OggPage& page)
{
    if (page.bos && page.sampleRate > 0 && !page.truncated) {
        _header.assign(1, page);
        _headerBytes = page.bytes.size();
        _collecting = true;
    } else if (_collecting && page.serial == _header.front().serial) {
        _collecting =
            page.granule <= 0 && !page.truncated && _headerBytes + page.bytes.size() <= maxHeaderBytes;
        if (_collecting) {
            _header.push_back(page);
            _headerBytes += page.bytes.size();
        }
    }
}

bool OggPageReader::readPage(OggPage& page)
{
    for (;;) {
        ogg_page og;
        long r = ogg_sync_pageseek(&_sync, &og);
        if (r > 0) {
            page = OggPage();
            page.bytes.assign(og.header, og.header + og.header_len);
            page.bytes.insert(page.bytes.end(), og.body, og.body + og.body_len);
            page.granule = PageFields::granule(og.header);
            page.serial = PageFields::serial(og.header);
            page.bos = PageFields::first(og.header);
            page.eos = PageFields::last(og.header);
            if (page.bos)
                readVorbisId(og, page);
            return true;
        }
        if (r < 0) {
            _skipped += static_cast<size_t>(-r);
            continue;
        }
        if (_eof) {
            long left = _sync.fill - _sync.returned;
            if (left <= 0)
                return false;
            // ogg_sync keeps a tail shorter than a page header unexamined;
            // a tail that begins with a capture pattern is a page that the
            // input cut short.
            const unsigned char* p = _sync.data + _sync.returned;
            if (std::memcmp(p, "OggS", std::min<size_t>(4, static_cast<size_t>(left))) != 0) {
                _skipped += static_cast<size_t>(left);
                ogg_sync_reset(&_sync);
                return false;
            }
            page = OggPage();
            page.bytes.assign(p, p + left);
            page.truncated = true;
            if (static_cast<size_t>(left) >= PageFields::fixedLength) {
                page.serial = PageFields::serial(p);
                page.bos = PageFields::first(p);
                page.eos = PageFields::last(p);
            }
            ogg_sync_reset(&_sync);
            return true;
        }
        char* buf = ogg_sync_buffer(&_sync, readChunk);
        size_t n = _in.read(reinterpret_cast<unsigned char*>(buf), readChunk);
        ogg_sync_wrote(&_sync, static_cast<long>(n));
        if (n == 0)
            _eof = true;
    }
}

void OggPageReader::rewind()
{
    _skipped = 0;
    if (!_in.rewindable()) {
        _replaying = true;
        _replayAt = 0;
        _joinNext = true;
        return;
    }
    _in.rewind();
    ogg_sync_reset(&_sync);
    _eof = false;
    _replaying = false;
    _joinNext = false;
}

void OggPageReader::setSerial(OggPage& page, uint32_t serial)
{
    if (page.truncated || page.bytes.size() < PageFields::fixedLength)
        return;
    unsigned char* p = page.bytes.data();
    for (size_t i = 0; i < 4; ++i)
        p[serialAt + i] = static_cast<unsigned char>(serial >> (8 * i));
    ogg_page og;
    og.header = p;
    og.header_len = static_cast<long>(PageFields::headerLength(p));
    og.body = p + og.header_len;
    og.body_len = static_cast<long>(page.bytes.size()) - og.header_len;
    ogg_page_checksum_set(&og);
    page.serial = serial;
}

} // namespace Send
