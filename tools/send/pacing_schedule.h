#pragma once

#include "send/ogg_page_reader.h"

#include <cstdint>

namespace Send {

// When each page of a stream is due to leave, in seconds from the moment
// sending began. A page holds the samples after the previous page's granule
// position, so it is due when playing reaches that position, less the lead.
// Each Vorbis BOS page starts a link whose granules restart at 0 and whose
// rate comes from its identification header; a link's time continues where
// the previous link ended. Pages without a granule, truncated pages and
// pages of other logical streams are due with the page before them. After
// a joined page (a live input continued after its header pages) the first
// granule position counts as the start of the link.
class PacingSchedule {
public:
    explicit PacingSchedule(double leadSeconds);

    // Pages must be given in stream order, each once.
    double due(const OggPage& page);
    // Play time up to the last granule seen: the end of what was scheduled.
    double playEnd() const;
    void reset();

private:
    double _lead;
    double _linkStart = 0; // play time at which the current link began
    long _rate = 0;        // 0 until the first Vorbis BOS page
    uint32_t _serial = 0;
    int64_t _granule = 0;     // highest granule of the current link so far
    int64_t _granuleBase = 0; // the granule at which the link's time starts
    bool _joining = false;    // the next granule becomes _granuleBase
    double _lastDue = 0;
};

} // namespace Send
