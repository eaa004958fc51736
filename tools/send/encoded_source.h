#pragma once

#include "send/ogg_pager.h"
#include "send/page_source.h"
#include "send/pcm_source.h"
#include "send/vorbis_encoder.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Send {

// Pages of Ogg Vorbis encoded from decoded or captured audio as they are
// asked for, each small enough for a datagram. A live source's pages end
// after every packet, so that its audio leaves as soon as it is encoded.
class EncodedSource : public PageSource {
public:
    EncodedSource(PcmSource& pcm, double quality, size_t maxPageBytes);
    ~EncodedSource() override;

    Status next(OggPage& page) override;
    void rewind() override;
    bool rewindsToStart() const override { return !_pcm.live(); }
    bool live() const override { return _pcm.live(); }

private:
    void start();
    void onPacket(const VorbisEncoder::Packet& packet);

    PcmSource& _pcm;
    double _quality;
    size_t _maxPageBytes;
    uint32_t _serial;
    std::unique_ptr<OggPager> _pager;
    std::unique_ptr<VorbisEncoder> _encoder;
    int _packets = 0; // of the current stream, headers included
    bool _finished = false;
    std::vector<float> _samples;
};

} // namespace Send
