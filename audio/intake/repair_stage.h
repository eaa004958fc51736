#pragma once

#include "audio/intake/page_sink.h"
#include "audio/intake/repair_piece.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Audio {

class PageCheck;
class RepairCode;

// Rebuilds lost pages of a Vorbis stream from its sender's repair pieces
// (RepairPiece) before the decoder needs them. Pages come in sequence
// order from PageOrder; once a stream is known to carry repair data, a gap
// in it holds back the pages after it until the gap's group is rebuilt,
// or cannot be (every piece of the group, or a later group's, has come),
// or the gap has waited maxHold, or the decoder has nothing else to read.
// A stream without repair data passes straight
// through. The recent pages of the protected stream are kept, copied once,
// for the group that may need them. Used by the decoding thread only.
class RepairStage : public PageSink {
public:
    using Clock = std::chrono::steady_clock;
    // Longer than any group's audio and what a sender's lead must cover.
    static constexpr Clock::duration maxHold = std::chrono::seconds(4);

    RepairStage(PageSink& sink, RepairCode& code, PageCheck& check);

    void reset();
    void resetCounts();
    // Before each datagram's pages: when they came.
    void tick(Clock::time_point now);
    void onPage(const unsigned char* page, std::size_t length) override;
    // A repair datagram, as it comes off the socket.
    void onPiece(const RepairPiece& piece);
    // The decoder has nothing else to read: every gap held is given up.
    void release();
    bool holding() const { return _active && _next != _end; }

    // Of the page being passed on: when it came off the socket; rebuilt
    // pages have no arrival of their own.
    Clock::time_point passingTaken() const { return _passingTaken; }
    bool passingRebuilt() const { return _passingRebuilt; }
    // The protected stream, whose gaps this stage counts (or fills)
    // rather than the page order.
    bool active() const { return _active; }
    uint32_t protectedSerial() const { return _serial; }

    unsigned long rebuilt() const { return _rebuilt; } // pages rebuilt
    unsigned long lost() const { return _lost; }       // pages of the protected stream never filled in

private:
    static constexpr uint32_t ringSize = 128;

    struct Slot {
        uint32_t serial = 0;
        uint32_t sequence = 0;
        std::size_t length = 0; // 0: empty
        bool rebuilt = false;
        Clock::time_point taken;
    };
    struct Group {
        bool known = false;
        uint32_t first = 0;
        int sources = 0;
        int repairs = 0;
        std::size_t length = 0;
        std::array<bool, RepairPiece::maxRepairs> present{};
        int count = 0;
    };

    void activate(uint32_t serial);
    void store(const unsigned char* page, std::size_t length, uint32_t sequence);
    void passOn();
    void giveUpTo(uint32_t sequence);
    void giveUpFirstGap();
    void pass(const unsigned char* page, std::size_t length, Clock::time_point taken, bool rebuilt);
    void startGroup(const RepairPiece& piece);
    bool has(uint32_t sequence) const;
    int presentPages() const;
    void tryRebuild();
    bool sound(unsigned char* page, uint32_t sequence);
    unsigned char* slotBytes(uint32_t sequence)
    {
        return &_pages[(sequence % ringSize) * RepairPiece::maxLength];
    }
    unsigned char* pieceBytes(int index)
    {
        return &_pieces[static_cast<std::size_t>(index) * RepairPiece::maxLength];
    }

    PageSink& _sink;
    RepairCode& _code;
    PageCheck& _check;
    bool _active = false;
    uint32_t _serial = 0;
    bool _started = false; // _next is known
    uint32_t _next = 0;    // sequence number to pass on next
    uint32_t _end = 0;     // one past the newest page stored
    uint32_t _settled = 0; // gaps before it are not waited for
    Clock::time_point _now;
    uint32_t _holdAt = 0; // the gap held since _holdSince
    Clock::time_point _holdSince;
    std::array<Slot, ringSize> _slots{};
    // Touched only as a sender's repair data fills them.
    std::unique_ptr<unsigned char[]> _pages;  // ringSize pages of at most maxLength
    std::unique_ptr<unsigned char[]> _pieces; // the group's pieces
    Group _group;
    bool _lastKnown = false; // of the latest page passed on outside the ring
    uint32_t _lastSerial = 0;
    uint32_t _lastSequence = 0;
    uint32_t _firstSequence = 0; // of the first page of _lastSerial passed on
    Clock::time_point _passingTaken;
    bool _passingRebuilt = false;
    unsigned long _rebuilt = 0;
    unsigned long _lost = 0;
};

} // namespace Audio
