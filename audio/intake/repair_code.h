#pragma once

#include <cstddef>

namespace Audio {

// The erasure code behind the repair pieces (RepairPiece). The code itself
// belongs to an outside library, outside this folder.
class RepairCode {
public:
    virtual ~RepairCode() = default;
    // pieces[0, sources) are the group's pages, pieces[sources, sources +
    // repairs) its repair pieces, each `length` bytes; present[i] tells
    // whether pieces[i] holds its bytes. Fills in every missing page; false,
    // touching nothing, when fewer than `sources` pieces are present.
    virtual bool rebuild(int sources, int repairs, std::size_t length, unsigned char* const* pieces,
                         const bool* present) = 0;
};

} // namespace Audio
