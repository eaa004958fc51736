#pragma once

#include "audio/intake/page_room.h"

#include <cstddef>
#include <vector>

namespace Audio {

// The accepted pages' bytes that the decoder has not read yet, in the order
// they were accepted. A page put together in room() and then accepted
// stays where it is; any other page is copied in. Pages accepted while one
// is lent wait aside until it is returned, and then take their places
// before or after it as they came. Used by one thread.
class PageStore : public PageRoom {
public:
    void clear();
    // Bytes accepted and not read yet.
    std::size_t held() const { return _end - _read; }
    // Copies at most `size` of them into dst; returns how many.
    std::size_t read(unsigned char* dst, std::size_t size);
    // A page accepted: the one lent, or any other, which is copied.
    void append(const unsigned char* page, std::size_t length);

    unsigned char* room() override;
    void lend(std::size_t length) override;
    void returned() override;

private:
    void makeRoom(std::size_t beyondEnd, std::size_t keep);

    std::vector<unsigned char> _bytes; // its size is the room there is
    std::size_t _read = 0;             // bytes read of _bytes
    std::size_t _end = 0;              // of the bytes accepted
    std::size_t _lent = 0;             // length of the page lent at _end; 0: none
    bool _lentAccepted = false;
    std::vector<unsigned char> _aside; // pages accepted while one was lent
    std::size_t _asideBefore = 0;      // of _aside, the bytes accepted before the page lent
};

} // namespace Audio
