#include "send/ogg_repager.h"

#include "audio/intake/page_fields.h"

namespace Send {

OggRepager::OggRepager(OggPageReader& reader, size_t maxPageBytes)
    : _reader(reader), _maxPageBytes(maxPageBytes)
{
}

OggRepager::~OggRepager()
{
    endLink();
}

PageSource::Status OggRepager::next(OggPage& page)
{
    for (;;) {
        if (_ending && _ending->pageOut(page))
            return Status::Page;
        _ending.reset();
        if (_pager && _pager->pageOut(page)) {
            page.joined = _joined;
            _joined = false;
            return Status::Page;
        }
        OggPage in;
        if (!_reader.next(in)) {
            // An input without an end-of-stream page still sends all it has.
            if (_pager) {
                _pager->flush();
                if (_pager->pageOut(page))
                    return Status::Page;
            }
            return Status::End;
        }
        take(in);
    }
}

void OggRepager::rewind()
{
    _reader.rewind();
    endLink();
    _ending.reset();
    _pager.reset();
    _joined = false;
}

void OggRepager::startLink(const OggPage& page)
{
    endLink();
    _serial = page.serial;
    ogg_stream_init(&_in, static_cast<int>(page.serial));
    vorbis_info_init(&_info);
    vorbis_comment_init(&_comment);
    _inLink = true;
    _headers = 0;
    _previousBlock = 0;
    _granule = -1;
    _whole = true;
    _pending.clear();
    // A link that ends without an end-of-stream page still sends its last
    // page, before the new link's first.
    if (_pager)
        _pager->flush();
    _ending = std::move(_pager);
    _pager = std::make_unique<OggPager>(page.serial, page.sampleRate, page.channels, _maxPageBytes);
}

void OggRepager::endLink()
{
    if (!_inLink)
        return;
    ogg_stream_clear(&_in);
    vorbis_comment_clear(&_comment);
    vorbis_info_clear(&_info);
    _inLink = false;
}

void OggRepager::take(OggPage& page)
{
    if (page.bos && page.sampleRate > 0 && !page.truncated)
        startLink(page);
    if (!_inLink || page.truncated || page.serial != _serial)
        return;
    if (page.joined) {
        // The input skipped from the header pages to here: the packet cut
        // at this page's start is lost, and the next one's length unknown.
        _joined = true;
        _previousBlock = 0;
        _granule = -1;
        _whole = false;
        ogg_stream_reset(&_in);
    }
    ogg_page og;
    og.header = page.bytes.data();
    og.header_len = static_cast<long>(Audio::PageFields::headerLength(page.bytes.data()));
    og.body = og.header + og.header_len;
    og.body_len = static_cast<long>(page.bytes.size()) - og.header_len;
    if (ogg_stream_pagein(&_in, &og) != 0)
        return;
    ogg_packet op;
    int r = 0;
    while ((r = ogg_stream_packetout(&_in, &op)) != 0) {
        if (r < 0) {
            _granule = -1; // a hole: the packet it cut is gone
            _whole = false;
            continue;
        }
        if (_headers < 3)
            takeHeader(op);
        else
            takeAudio(op);
    }
    if (page.granule >= 0)
        passOn(page.granule);
}

void OggRepager::takeHeader(ogg_packet& op)
{
    // Block sizes are in the setup header; a header the library refuses
    // leaves them unknown, and the packets are still sent.
    vorbis_synthesis_headerin(&_info, &_comment, &op);
    ++_headers;
    _pager->add(op.packet, static_cast<size_t>(op.bytes), 0, op.e_o_s != 0);
    // The identification header has a page of its own, and audio starts
    // on a new page: decoders expect both.
    if (_headers == 1 || _headers == 3)
        _pager->flush();
}

void OggRepager::takeAudio(ogg_packet& op)
{
    Packet packet;
    packet.bytes.assign(op.packet, op.packet + op.bytes);
    packet.eos = op.e_o_s != 0;
    long block = vorbis_packet_blocksize(&_info, &op);
    if (block > 0) {
        packet.samples = _previousBlock > 0 ? _previousBlock / 4 + block / 4 : 0;
        _previousBlock = block;
    }
    _pending.push_back(std::move(packet));
}

// The input page's granule belongs to its last packet. Those before it end
// where the packets since the previous granule take them; on the first
// audio page (or after a hole) they are counted back from its granule
// instead, unless that page also ends a link read from its start: its
// audio starts at 0, and the decoder cuts its end. The last packet keeps the page's granule,
// so that a short first or last block is cut just as it was.
void OggRepager::passOn(int64_t pageGranule)
{
    if (_pending.empty())
        return;
    std::vector<int64_t> granules(_pending.size());
    if (_granule < 0 && _pending.back().eos && _whole)
        _granule = 0;
    if (_granule >= 0) {
        int64_t granule = _granule;
        for (size_t i = 0; i < _pending.size(); ++i)
            granules[i] = granule += _pending[i].samples;
    } else {
        int64_t granule = pageGranule;
        for (size_t i = _pending.size(); i-- > 0;) {
            granules[i] = granule;
            granule -= _pending[i].samples;
        }
    }
    granules.back() = pageGranule;
    for (size_t i = 0; i < _pending.size(); ++i)
        _pager->add(_pending[i].bytes.data(), _pending[i].bytes.size(), granules[i], _pending[i].eos);
    _pending.clear();
    _granule = pageGranule;
}

} // namespace Send
