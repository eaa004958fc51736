#pragma once

#include "wrappers/sender_drops.h"
#include "wrappers/wakeup.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace Wrappers {

// A transport behind Net: a TCP stream or UDP datagrams. One thread drives
// an instance at a time.
class NetImplementation {
public:
    virtual ~NetImplementation() = default;

    virtual void setupListen(int port) = 0;
    virtual void setupSend(std::string host, int port) = 0;
    virtual int sendData(const char* data, int len) = 0;
    // Hands over as much of data as the transport takes without waiting
    // and returns how much that was (0 when it takes nothing now); failures
    // throw Utils::NetErrorSend. A transport that cannot tell sends it all.
    virtual int sendSome(const char* data, int len) { return sendData(data, len); }
    // Reads at most size * count bytes, after waiting at most timeout ms
    // for data when timeout > 0. Returns at least 1; failures throw.
    virtual int receive(void* buf, int size, int count, int timeout) = 0;
    // Waits at most timeout ms (-1: no limit) until there are bytes to
    // receive or one of `wakeups` is raised; returns whether there are
    // bytes. A transport that cannot wait on wake-ups says so at once and
    // lets its receive wait.
    virtual bool waitForBytes(int /*timeout*/, std::initializer_list<const Wakeup*> /*wakeups*/)
    {
        return true;
    }
    // A transport for one accepted peer, or null where there is nothing to
    // accept. Blocks until a peer connects or giveUp (when given) says so.
    virtual NetImplementation* accept(const std::function<bool()>& giveUp) = 0;
    // The same, giving up once stop is raised; a transport that waits
    // between attempts sleeps on stop rather than waking to look at it.
    virtual NetImplementation* acceptUntil(const Wakeup& stop)
    {
        return accept([&stop] { return stop.raised(); });
    }

    // Which senders a datagram listener hears; see SDLUDP. Transports that
    // have no senders to choose ignore them.
    virtual void hearOnly(uint32_t) {}
    virtual void hearNoOne() {}
    virtual void hearNextSender() {}
    virtual const SenderDrops& drops() const;
    // The IPv4 address of a connected peer, network byte order; 0 unknown.
    virtual uint32_t peerHost() const { return 0; }
};

} // namespace Wrappers
