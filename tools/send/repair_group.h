#pragma once

#include "send/ogg_page_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Send {

// The pages of one Vorbis link that one set of repair pieces protects:
// consecutive pages in send order, closed at maxPages or once its audio
// spans the span limit by granule positions, so that its repair never
// waits long behind its first page. Keeps a copy of each page, to be
// padded with zeros to the longest when the group's pieces are made.
class RepairGroup {
public:
    static constexpr int maxPages = 48;

    explicit RepairGroup(double spanSeconds);

    // A new link at rate frames per second (0: unknown, no span limit);
    // its audio starts at granule 0.
    void startLink(long rate);
    // Whether the page may join the open group: a gap in the sequence
    // numbers, or a live input that skipped ahead, starts a new one.
    bool follows(const OggPage& page) const;
    void add(const OggPage& page);
    bool full() const;
    bool empty() const { return _count == 0; }
    // Its repair has left: the next page opens a new group.
    void clear();

    int size() const { return _count; }
    uint32_t firstSequence() const { return _first; }
    std::size_t longest() const { return _longest; }
    // Every page, zeros after its end, longest() bytes each.
    unsigned char* const* padded();

private:
    double _span;
    int64_t _spanFrames = 0;  // 0: no span limit
    int64_t _linkGranule = 0; // the link's last granule position; -1: unknown
    int64_t _base = -1;       // where the group's audio begins; -1: unknown
    std::vector<std::vector<unsigned char>> _pages;
    std::vector<unsigned char*> _pointers;
    int _count = 0;
    uint32_t _first = 0;
    uint32_t _next = 0; // the sequence number that follows
    std::size_t _longest = 0;
};

} // namespace Send
