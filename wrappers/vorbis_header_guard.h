#pragma once

#include "audio/intake/page_gate.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Wrappers {

class HeaderStreams;

// libvorbis divides by the dimension of a residue's codebook when it
// decodes. A setup header with a codebook of no dimension, or one whose
// codeword lengths make no whole prefix code (the library then decodes
// with books it never made, of no dimension), ends the process with a
// floating-point exception. The setup header of every stream is read here
// before the library sees it whole, and such a stream is refused from that
// page on. Used by the decoding thread only.
class VorbisHeaderGuard : public Audio::PageGate {
public:
    VorbisHeaderGuard();
    ~VorbisHeaderGuard() override;
    VorbisHeaderGuard(const VorbisHeaderGuard&) = delete;
    VorbisHeaderGuard& operator=(const VorbisHeaderGuard&) = delete;

    void reset();
    // A checked page, in its stream's order: false when its stream is refused.
    bool admit(const unsigned char* page, std::size_t length) override;
    // Whether a Vorbis setup header's codebooks all have a dimension and
    // whole prefix codes. What cannot be read is the library's to refuse,
    // and counts as sound here. libogg's reader takes the packet as
    // writable; it only reads it.
    static bool codebooksSound(unsigned char* packet, long bytes);

private:
    std::unique_ptr<HeaderStreams> _streams; // behind a pointer: libogg's types stay out of this header
};

} // namespace Wrappers
