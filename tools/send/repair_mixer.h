#pragma once

#include "send/ogg_page_reader.h"
#include "send/repair_group.h"
#include "send/repair_pieces.h"
#include "send/repair_stream.h"

#include <cstdint>
#include <deque>
#include <memory>

namespace Send {

// Puts the repair datagrams among the pages to send: the header right
// after the link's first page (and its next two), and each group's pieces
// right after the group's last page, so that a receiver holds them as soon
// as it can use them. A page longer than a piece may be belongs to no
// group. Only a link seen from its first page is protected.
class RepairMixer {
public:
    // percent: pieces per group in percent of its pages, 0 for none (the
    // pages then pass as they are); spanSeconds: the longest stretch of
    // audio a group holds.
    RepairMixer(int percent, double spanSeconds);

    // The next page to send, with the serial it leaves with.
    void add(OggPage page);
    // The input ended: the open group's repair follows.
    void finish();
    // The oldest page not yet taken, repair datagrams included.
    bool pageOut(OggPage& page);
    bool waiting() const { return !_out.empty(); }
    // A new transmission: what waited for the last one is dropped.
    void reset();

private:
    void startLink(const OggPage& page);
    void endLink();
    void closeGroup();

    int _percent;
    RepairGroup _group;
    RepairPieces _pieces;
    static constexpr int headerCopies = 3;
    std::unique_ptr<RepairStream> _stream; // of the current link; none: not protected
    int _linkPages = 0;                    // of the current link so far
    uint32_t _serial = 0;
    std::deque<OggPage> _out;
};

} // namespace Send
