#pragma once

#include "send/ogg_page_reader.h"

namespace Send {

// The pages of the stream to send, in order: read from an Ogg Vorbis
// input, or encoded from decoded or captured audio as they are asked for.
class PageSource {
public:
    // Later: a live source has no page yet, ask again soon.
    enum class Status { Page, Later, End };

    PageSource() = default;
    virtual ~PageSource() = default;
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;

    // Read and decode errors throw std::runtime_error.
    virtual Status next(OggPage& page) = 0;
    // The stream from its beginning again; a live source starts a new
    // stream from what it hears now.
    virtual void rewind() = 0;
    // Whether rewind() gives the same stream again (what --loop needs).
    virtual bool rewindsToStart() const = 0;
    // Whether a sound card's clock, not ours, paces the pages: they leave
    // as soon as they are made, since holding them to our clock would
    // pile up what that card records faster.
    virtual bool live() const = 0;
};

} // namespace Send
