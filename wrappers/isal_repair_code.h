#pragma once

#include "audio/intake/repair_code.h"

#include <cstddef>
#include <vector>

namespace Wrappers {

// The repair pieces' Reed-Solomon code over GF(2^8), by ISA-L: a Cauchy
// matrix, so that any `sources` of the pieces can be inverted. Its tables
// are allocated once, for the largest group, so neither side allocates per
// group. Used by one thread.
class IsalRepairCode : public Audio::RepairCode {
public:
    IsalRepairCode();

    // The group's repair pieces from its pages, each `length` bytes; the
    // pages are only read (ISA-L takes them as writable).
    void encode(int sources, int repairs, std::size_t length, unsigned char* const* pages,
                unsigned char* const* pieces);
    bool rebuild(int sources, int repairs, std::size_t length, unsigned char* const* pieces,
                 const bool* present) override;

private:
    std::vector<unsigned char> _matrix;  // the code's rows, sources + repairs by sources
    std::vector<unsigned char> _chosen;  // rows of the pieces present
    std::vector<unsigned char> _inverse; // of _chosen
    std::vector<unsigned char> _rows;    // of _inverse, for the missing pages
    std::vector<unsigned char> _tables;  // ISA-L's expanded _rows
    std::vector<unsigned char*> _in;     // the pieces a rebuild reads, or the pages encoded
    std::vector<unsigned char*> _out;    // what it writes
};

} // namespace Wrappers
