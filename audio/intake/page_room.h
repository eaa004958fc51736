#pragma once

#include <cstddef>

namespace Audio {

// Where a page cut across datagrams is put together: at the end of the
// bytes the decoder reads next, so that once it is let through it is there
// already and needs no copy of its own. Used by one thread.
class PageRoom {
public:
    virtual ~PageRoom() = default;
    // Room for a page of up to PageFields::maxPage bytes, valid until the
    // next call to room().
    virtual unsigned char* room() = 0;
    // The page of `length` bytes put together in the room goes on its way
    // through the later stages: until returned(), other pages that arrive
    // are kept aside, so that nothing overwrites it, and the room is not
    // asked for.
    virtual void lend(std::size_t length) = 0;
    // Those stages are done with it, whether they let it through or not.
    virtual void returned() = 0;
};

} // namespace Audio
