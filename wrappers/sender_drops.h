#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Wrappers {

// Datagrams a listener dropped because they came from a sender it does not
// hear, and from how many senders (address and port). Remembers a bounded
// number of senders, so a flood from forged addresses costs no memory.
class SenderDrops {
public:
    static constexpr std::size_t maxSenders = 256;

    void note(uint32_t host, uint16_t port);
    void clear();

    unsigned long datagrams() const { return _datagrams; }
    std::size_t senders() const { return _senders.size(); }
    // More senders than maxSenders were seen.
    bool moreSenders() const { return _more; }

private:
    unsigned long _datagrams = 0;
    std::vector<uint64_t> _senders;
    bool _more = false;
};

} // namespace Wrappers
