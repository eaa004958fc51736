#pragma once

#include "send/input_stream.h"

#include <ogg/ogg.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Send {

struct OggPage {
    std::vector<unsigned char> bytes; // the whole page as read, header first
    int64_t granule = -1;             // -1: no packet ends on this page
    uint32_t serial = 0;
    bool bos = false;
    bool eos = false;
    // The input ended inside this page: its bytes are there, but no granule.
    bool truncated = false;
    // Of a BOS page whose first packet is a Vorbis identification header;
    // 0 for every other page.
    long sampleRate = 0;
    int channels = 0;
    // The first page after a live input's header pages were handed out
    // again: the pages between them and this one were skipped.
    bool joined = false;
    // Leaves in a datagram of its own: a repair piece, so that a lost
    // datagram costs one piece and never a page of audio with it.
    bool alone = false;
};

// Cuts the input into Ogg pages: finds the capture pattern, checks each
// page's checksum (libogg), skips bytes that belong to no page, and hands
// out an unfinished last page as a truncated one. Of an input that cannot
// seek (a pipe) it keeps the header pages of the current link, the pages
// from its BOS page to its first page with a granule position, to hand them
// out again once the input cannot go back to its beginning any more.
class OggPageReader {
public:
    explicit OggPageReader(InputStream& in);
    ~OggPageReader();
    OggPageReader(const OggPageReader&) = delete;
    OggPageReader& operator=(const OggPageReader&) = delete;

    // False at the end of the input. Read errors throw std::runtime_error.
    bool next(OggPage& page);
    // Back to the input's first byte; for an input that cannot go back,
    // the header pages of the current link, then on from where it is.
    void rewind();
    // Whether rewind() goes back to the first byte.
    bool rewindsToStart() const { return _in.rewindable(); }

    // Bytes skipped since the last rewind because they belonged to no page.
    size_t skippedBytes() const { return _skipped; }

    // Gives a complete page another serial number and a checksum to match,
    // so that a stream sent twice in a row reads as two links of a chain.
    static void setSerial(OggPage& page, uint32_t serial);

private:
    bool readPage(OggPage& page);
    void keepHeader(const OggPage& page);

    InputStream& _in;
    ogg_sync_state _sync{};
    bool _eof = false;
    size_t _skipped = 0;
    std::vector<OggPage> _header; // of the current link, for a live input
    size_t _headerBytes = 0;
    bool _collecting = false; // the current link's header is not complete yet
    bool _replaying = false;
    size_t _replayAt = 0;
    bool _joinNext = false;
};

} // namespace Send
