#pragma once

#include "send/repair_group.h"
#include "wrappers/isal_repair_code.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Send {

// The repair packets of a group: each an Audio::RepairPiece header and the
// piece the erasure code makes from the group's zero-padded pages. As many
// as the share of the group's pages asked for, rounded up: a group of one
// page still gets one. Buffers are kept from group to group.
class RepairPieces {
public:
    explicit RepairPieces(int percent);

    // Pieces for a group of `pages` pages.
    static int countFor(int pages, int percent);

    // Replaces the packets with those of the group; serial is the one of
    // the stream the group belongs to.
    void make(RepairGroup& group, uint32_t serial);
    int size() const { return _count; }
    const std::vector<unsigned char>& packet(int i) const { return _packets[static_cast<std::size_t>(i)]; }

private:
    int _percent;
    Wrappers::IsalRepairCode _code;
    std::vector<std::vector<unsigned char>> _packets;
    std::vector<unsigned char*> _pieces; // into _packets, after their headers
    int _count = 0;
};

} // namespace Send
