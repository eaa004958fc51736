#include "send/encoded_source.h"

#include <random>

namespace Send {

EncodedSource::EncodedSource(PcmSource& pcm, double quality, size_t maxPageBytes)
    : _pcm(pcm), _quality(quality), _maxPageBytes(maxPageBytes), _serial(std::random_device()())
{
    start();
}

EncodedSource::~EncodedSource() = default;

void EncodedSource::start()
{
    _encoder.reset();
    _pager = std::make_unique<OggPager>(_serial, PcmSource::rate, PcmSource::channels, _maxPageBytes);
    _packets = 0;
    _finished = false;
    _encoder =
        std::make_unique<VorbisEncoder>(PcmSource::rate, PcmSource::channels, _quality, "veldrane-send",
                                        [this](const VorbisEncoder::Packet& p) { onPacket(p); });
}

void EncodedSource::onPacket(const VorbisEncoder::Packet& packet)
{
    _pager->add(packet.data, packet.size, packet.granule, packet.eos);
    // The identification header alone on the first page, audio from a new
    // page, as decoders expect; live audio a page per packet.
    ++_packets;
    if (_packets == 1 || _packets == 3 || _pcm.live())
        _pager->flush();
}

PageSource::Status EncodedSource::next(OggPage& page)
{
    bool heard = false;
    while (!_pager->pageOut(page)) {
        if (_finished)
            return Status::End;
        // Each read of live audio waits for its 10 ms: one per ask, so
        // that the session between them stays responsive.
        if (heard)
            return Status::Later;
        if (_pcm.read(_samples)) {
            _encoder->write(_samples);
            heard = _pcm.live();
        } else {
            _encoder->finish();
            _pager->flush();
            _finished = true;
        }
    }
    return Status::Page;
}

void EncodedSource::rewind()
{
    _pcm.rewind();
    start();
}

} // namespace Send
