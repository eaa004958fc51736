#pragma once

#include "test_helpers/ogg_maker.h"
#include "wrappers/net_implementation.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace TestHelpers {

// A transport that serves scripted datagrams from memory, with the receive
// semantics of the UDP transport: one datagram per receive, never more than
// the request, the rest of a longer datagram served by the next calls. A
// stall entry makes one receive that may wait (timeout > 0) throw
// Utils::NetErrorTimeout at once, as if the wait had passed with nothing; a
// look without waiting meets it too but leaves it in place. Running out of
// datagrams is a timeout. The timeout is otherwise ignored, so tests do not
// depend on timing.
//
// Wrap it in a Net, which owns it: new Wrappers::Net(memoryNet). Entries
// may be added from any thread while another receives.
class MemoryNet : public Wrappers::NetImplementation {
public:
    MemoryNet() = default;
    explicit MemoryNet(const std::vector<Bytes>& datagrams);
    MemoryNet(const MemoryNet&) = delete;
    MemoryNet& operator=(const MemoryNet&) = delete;

    void push(const Bytes& datagram);
    void push(const std::vector<Bytes>& datagrams);
    void pushStall(int count = 1);
    // Once the datagrams are used up, every receive fails as a broken
    // socket does, instead of timing out.
    void failWhenEmpty() { _failWhenEmpty = true; }
    // Whether receive records request sizes (off for long benchmarks).
    void setRecordRequests(bool on);

    // Request sizes (size * count) of every receive so far.
    std::vector<int> requests() const;
    // Datagrams not yet served (stalls not counted).
    size_t pending() const;
    // Bytes served so far.
    size_t served() const;

    void setupListen(int port) override;
    void setupSend(std::string host, int port) override;
    int sendData(const char* data, int len) override;
    int receive(void* buf, int size, int count, int timeout) override;
    Wrappers::NetImplementation* accept(const std::function<bool()>& giveUp) override;

private:
    struct Entry {
        Bytes data;
        bool stall;
    };

    mutable std::mutex _mutex;
    std::deque<Entry> _entries;
    size_t _offset = 0; // bytes of the front datagram already served
    size_t _served = 0;
    bool _record = true;
    bool _failWhenEmpty = false;
    std::vector<int> _requests;
};

} // namespace TestHelpers
