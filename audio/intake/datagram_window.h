#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Audio {

// The datagrams taken from the network whose bytes are not yet framed into
// pages, in the order pages are framed from them (the order of arrival
// unless a repair changed it), and the last few framed ones, so that a
// repeat of them can be told. Bytes live in one buffer allocated once;
// reordering moves only the datagrams' places. The buffer's memory becomes
// resident only as far as it is used: the bytes in use move back to its
// start once they take a small part of what was written, so a steady stream
// of small datagrams keeps to its first tens of kilobytes. Used by one
// thread.
class DatagramWindow {
public:
    static constexpr std::size_t maxDatagram = 65536;
    // Enough for a large page in small datagrams.
    static constexpr std::size_t maxPending = 256;
    // Room for the largest page and a datagram around it.
    static constexpr std::size_t maxPendingBytes = 2 * maxDatagram;
    static constexpr std::size_t historyCount = 2;

    struct Slot {
        std::size_t at = 0;
        std::size_t size = 0;
    };

    DatagramWindow();

    void clear();
    // Where the next datagram goes: maxDatagram bytes. Call only when not full().
    unsigned char* room();
    void commit(std::size_t size);
    bool full() const { return _count == maxPending || _pendingBytes >= maxPendingBytes; }

    std::size_t count() const { return _count; }
    const Slot& slot(std::size_t i) const { return _pending[i]; }
    const unsigned char* data(const Slot& s) const { return _bytes.get() + s.at; }
    // A page's check may change its bytes while it runs, and puts them back.
    unsigned char* data(const Slot& s) { return _bytes.get() + s.at; }
    // Bytes of slot i not framed yet begin here.
    std::size_t begin(std::size_t i) const { return i == 0 ? _offset : 0; }
    std::size_t frontBytes() const { return _pending[0].size - _offset; }

    // n bytes from the front are framed (or lost): fully used datagrams
    // become history.
    void consume(std::size_t n);
    // Slot i repeats byte for byte an earlier pending datagram or one of
    // the history.
    bool repeatsEarlier(std::size_t i) const;
    // Keeps only the slots listed, in the order listed; order[0] == 0 when
    // the front is partly framed.
    void reorder(const std::uint16_t* order, std::size_t n);

private:
    void toHistory(const Slot& s);
    void compact();
    bool same(const Slot& a, const Slot& b) const;

    std::size_t liveBytes() const;

    std::unique_ptr<unsigned char[]> _bytes; // not initialised: written before read
    std::size_t _end = 0;                    // of the bytes in use
    std::array<Slot, maxPending> _pending{};
    std::size_t _count = 0;
    std::size_t _offset = 0; // bytes of the front slot already framed
    std::size_t _pendingBytes = 0;
    std::array<Slot, historyCount> _history{};
    std::size_t _historyCount = 0;
};

} // namespace Audio
