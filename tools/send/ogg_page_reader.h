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
};

// Cuts the input into Ogg pages: finds the capture pattern, checks each
// page's checksum (libogg), skips bytes that belong to no page, and hands
// out an unfinished last page as a truncated one.
class OggPageReader {
public:
    explicit OggPageReader(InputStream& in);
    ~OggPageReader();
    OggPageReader(const OggPageReader&) = delete;
    OggPageReader& operator=(const OggPageReader&) = delete;

    // False at the end of the input. Read errors throw std::runtime_error.
    bool next(OggPage& page);
    // Back to the input's first byte.
    void rewind();

    // Bytes skipped since the last rewind because they belonged to no page.
    size_t skippedBytes() const { return _skipped; }

    // Gives a complete page another serial number and a checksum to match,
    // so that a stream sent twice in a row reads as two links of a chain.
    static void setSerial(OggPage& page, uint32_t serial);

private:
    InputStream& _in;
    ogg_sync_state _sync;
    bool _eof = false;
    size_t _skipped = 0;
};

} // namespace Send
