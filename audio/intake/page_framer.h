#pragma once

#include "audio/intake/datagram_window.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Audio {

class PageCheck;
class PageOrder;
class PageRoom;

// Frames Ogg pages out of a window of datagrams cut anywhere in the byte
// stream, and repairs what the network did to them. Pages frame in arrival
// order; when the page at the front fails its check, orders close to it
// are tried: without datagrams that repeat earlier ones byte for byte, and
// with neighbours swapped. Only a page that checks at the same place is
// taken, so a later page never jumps ahead of an earlier one. When no order
// helps, the front bytes are given up once a later page checks that did not
// begin in the newest datagram (a swapped neighbour is at most one late),
// or when the window is full; bytes that begin no page go at once. Used by
// one thread.
class PageFramer {
public:
    // room: where a page cut across datagrams is put together; none: in
    // a buffer of the framer's own.
    PageFramer(DatagramWindow& window, PageCheck& check, PageOrder& order, PageRoom* room = nullptr);
    void useRoom(PageRoom* room) { _room = room; }

    // Frames every page the window holds now; after each datagram.
    void frame();
    // Nothing came for a while: a swapped neighbour is not waited for.
    void settle();
    void resetCounts();

    unsigned long duplicates() const { return _duplicates; } // datagrams dropped as repeats
    unsigned long reordered() const { return _reordered; }   // datagrams put back in place
    // Bytes given up since the last page taken.
    std::size_t lostBytes() const { return _lostBytes; }
    void forgetLost() { _lostBytes = 0; }

private:
    static constexpr int maxSwaps = 4;
    enum class Framed { good, bad, missing, noCapture };
    struct Order {
        std::array<std::uint16_t, DatagramWindow::maxPending> at{};
        std::size_t n = 0;
    };

    static constexpr std::size_t none = ~std::size_t{0};

    // budgeted: the check counts against this datagram's budget.
    Framed frameAt(const Order& o, std::size_t from, bool budgeted = true);
    std::size_t available(const Order& o) const;
    std::size_t gather(const Order& o, std::size_t from, std::size_t length, unsigned char* dst) const;
    unsigned char* inPlace(const Order& o);
    bool repair(Framed natural);
    bool dedup(Order& o) const;
    bool adopt();
    bool trySwaps(const Order& base, Framed natural, std::size_t firstUpTo);
    std::size_t headerEnd(const Order& base) const;
    bool swapSets(const Order& base, std::size_t from, std::size_t to, int n);
    std::size_t span(const Order& base);
    bool tryOrder(const Order& base);
    bool headerStraddles() const;
    bool dropGarbage(Framed natural);
    bool mayBeEarlyContinuation();
    bool giveUpFront();
    std::size_t nextCapture(std::size_t from, std::size_t end) const;
    void take(bool afterLoss);
    void lose(std::size_t n);
    static void identity(Order& o, std::size_t n);

    DatagramWindow& _window;
    PageCheck& _check;
    PageOrder& _order;
    PageRoom* _room;
    // The page being framed, when it spans datagrams and there is no room.
    std::unique_ptr<unsigned char[]> _scratch;
    unsigned char* _page = nullptr; // the page framed: in the room, in _scratch or in the window
    bool _inRoom = false;           // _page is in the room
    std::size_t _length = 0;        // of _page
    Order _natural, _base, _variant;
    unsigned long _duplicates = 0;
    unsigned long _reordered = 0;
    std::size_t _lostBytes = 0;
    std::size_t _checkBudget = 0; // bytes left to check for this datagram
    int _ordersLeft = 0;          // orders left to frame for this datagram
    bool _settling = false;
    int _swaps = 0;                // in the order found
    std::size_t _firstUpTo = none; // where the first swap may be at most
    bool _completeSeen = false;    // an order tried made the page whole
};

} // namespace Audio
