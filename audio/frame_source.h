#pragma once

#include <cstdint>

namespace Audio {

// The decoded stream, as the fill loop sees it: frames of the current link
// as per-channel arrays, and where they lie in it. The real one is
// Wrappers::AudioDec over the decoding library. Used by the decoding thread.
class FrameSource {
public:
    struct Decoded {
        enum class Kind {
            Frames,  // `frames` frames in pcm[channel][frame], valid until the next call
            Hole,    // data was lost before what follows
            BadLink, // a damaged link, skipped
            Stopped, // nothing to decode for now: a stall, the end, or an error
        };
        Kind kind = Kind::Stopped;
        int frames = 0;
        float** pcm = nullptr;
    };
    struct Link {
        long rate = 0; // 0 while no link is known
        int channels = 0;
        uint32_t serial = 0;
        int index = 0; // counts the links decoded
    };

    virtual ~FrameSource() = default;

    // At most `most` frames; a result other than frames has had its line
    // printed.
    virtual Decoded decodeFrames(int most) = 0;
    virtual Link link() const = 0;
    // The link's position after the frames decoded so far.
    virtual int64_t position() const = 0;
    // Whether that position is known: after a hole it is only once the
    // packet that ends a page has been decoded.
    virtual bool positionKnown() const = 0;
};

} // namespace Audio
