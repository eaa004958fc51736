#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace Wrappers {

class Net;

// The decoding library's view of the network: datagrams from a Net are
// framed into whole Ogg pages, checked, and served to the library's reads
// page by page. Knowing the pages lets the decoder tell the end of a link
// from a stall. Used by the decoding thread only.
class OggInput {
public:
    OggInput();
    ~OggInput();
    OggInput(const OggInput&) = delete;
    OggInput& operator=(const OggInput&) = delete;

    // Starts afresh on net (null: no source), forgetting every byte held.
    void reset(Net* net);
    // Copies at most size bytes of accepted pages into dst, waiting at most
    // timeoutMs for a datagram when none are held. Returns 0 when nothing
    // came in time, and at once, a single time, when the last page served
    // ended its link and nothing more is waiting: the sender has finished
    // that link, so the decoder should not wait for more.
    size_t read(void* dst, size_t size, int timeoutMs);
    // The last page served carried the end-of-stream mark of its link.
    bool linkEnded() const { return _linkEnded; }
    // The latest read gave up because a long run of bytes held no Ogg page.
    bool foreign() const { return _foreign; }

private:
    struct Sync; // libogg's framing state

    bool receive(int timeoutMs);
    void takePages();

    std::unique_ptr<Sync> _sync;
    Net* _net = nullptr;
    std::vector<unsigned char> _datagram;
    std::vector<unsigned char> _pages; // accepted page bytes not yet served
    size_t _served = 0;                // of _pages
    bool _lastPageEnds = false;        // the last page taken ends its link
    bool _linkEnded = false;           // ...and it has been served whole
    bool _endReported = false;
    size_t _skipped = 0; // bytes dropped since the last page
    bool _foreign = false;
};

} // namespace Wrappers
