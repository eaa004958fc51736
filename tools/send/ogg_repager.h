#pragma once

#include "send/ogg_page_reader.h"
#include "send/ogg_pager.h"
#include "send/page_source.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <memory>
#include <vector>

namespace Send {

// An Ogg Vorbis input laid out again on pages that fit a datagram: the
// packets stay as they are, so what the receiver decodes is bit-exact, and
// only the pages change. Each packet gets the granule position a page
// ending with it would have had, counted back from the input page's
// granule by the packets' block sizes. Pages of other logical streams are
// left out.
class OggRepager : public PageSource {
public:
    OggRepager(OggPageReader& reader, size_t maxPageBytes);
    ~OggRepager() override;

    Status next(OggPage& page) override;
    void rewind() override;
    bool rewindsToStart() const override { return _reader.rewindsToStart(); }
    bool live() const override { return false; }

private:
    struct Packet {
        std::vector<unsigned char> bytes;
        long samples = 0; // decoded samples this packet completes
        bool eos = false;
    };

    void startLink(const OggPage& page);
    void endLink();
    void take(OggPage& page);
    void takeHeader(ogg_packet& op);
    void takeAudio(ogg_packet& op);
    void passOn(int64_t pageGranule);

    OggPageReader& _reader;
    size_t _maxPageBytes;
    bool _inLink = false;
    uint32_t _serial = 0;
    ogg_stream_state _in{};
    vorbis_info _info{};
    vorbis_comment _comment{};
    int _headers = 0;        // header packets of the link seen so far
    long _previousBlock = 0; // 0: the next packet decodes no samples
    int64_t _granule = -1;   // of the last packet passed on; -1: not known
    bool _whole = true;      // no packet of the link was lost or skipped
    std::unique_ptr<OggPager> _pager;
    std::unique_ptr<OggPager> _ending; // the previous link's last pages, not sent yet
    std::vector<Packet> _pending;      // audio packets of the input page being read
    bool _joined = false;              // the next page out follows a joined input page
};

} // namespace Send
