#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Audio {

class PageSink;

// Puts checked pages in the order of their page sequence numbers, per
// logical stream: a page already taken (same serial and sequence number) is
// a duplicate and dropped; a page one ahead of the next expected is held
// until the next datagram, so that a swapped neighbour takes its place
// before it; pages older than what was taken are dropped. A stream not
// seen before starts with whichever page comes, a page that does not begin
// the stream waiting one datagram for the one before it. Used by one thread.
class PageOrder {
public:
    explicit PageOrder(PageSink& sink);

    void reset();
    // afterLoss: bytes were given up just before this page, so a gap in
    // front of it is known to be lost and is not waited for.
    void push(const unsigned char* page, std::size_t length, bool afterLoss);
    // Every page of a datagram has been pushed.
    void datagramEnded();
    // Nothing more is coming for now: the held page goes out.
    void flush();

    unsigned long duplicates() const { return _duplicates; } // pages dropped as repeats
    unsigned long reordered() const { return _reordered; }   // pages put back in order
    unsigned long lost() const { return _lost; }             // pages never filled in
    // The gaps of this stream are counted after this stage: they may yet be
    // rebuilt.
    void countElsewhere(uint32_t serial);
    void resetCounts();

private:
    static constexpr std::size_t maxStreams = 8;

    struct Stream {
        uint32_t serial = 0;
        uint32_t next = 0;     // sequence number expected
        uint64_t taken = 0;    // bit k: page next - 1 - k was taken
        unsigned long use = 0; // when last seen, to replace the stalest
    };

    Stream& stream(uint32_t serial, uint32_t sequence, bool& fresh);
    void give(Stream& s, const unsigned char* page, std::size_t length);
    void behind(Stream& s, const unsigned char* page, std::size_t length);
    void release();
    bool hold(const Stream& s, const unsigned char* page, std::size_t length);
    void countLost(uint32_t serial, uint32_t pages);

    PageSink& _sink;
    std::array<Stream, maxStreams> _streams{};
    std::size_t _count = 0;
    unsigned long _clock = 0;
    std::unique_ptr<unsigned char[]> _held; // room for the largest page
    std::size_t _heldLength = 0;            // 0: nothing held
    uint32_t _heldSerial = 0;
    bool _heldOld = false; // held over a datagram's end
    unsigned long _duplicates = 0;
    unsigned long _reordered = 0;
    unsigned long _lost = 0;
    bool _elsewhere = false;
    uint32_t _elsewhereSerial = 0;
};

} // namespace Audio
