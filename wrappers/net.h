#pragma once

#include "wrappers/net_implementation.h"
#include "wrappers/sdl_mutex.h"
#include "wrappers/sender_drops.h"
#include "wrappers/wakeup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace Wrappers {

enum class ConnectionType { UDP = 0, TCP = 1 };

class SDLTCP;
class SDLUDP;

// The one network object the rest of the program handles: a transport and,
// for the control channel, a queue of outgoing commands that any thread
// fills and the owning thread flushes.
class Net {
public:
    explicit Net(NetImplementation* i = nullptr);
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    void setupListen(int port, ConnectionType type);
    void setupSend(std::string host, int port, ConnectionType type);

    // Most bytes of commands that may wait for the peer, and the longest
    // time the peer may take none of them, before the connection counts as
    // broken: a peer that does not read must not hold memory or a thread.
    static constexpr size_t unsentLimit = size_t{64} * 1024;
    static constexpr int stallLimitMs = 2000;

    // Any thread; never waits for the network. A command that would pass
    // unsentLimit is dropped and the connection counts as broken.
    void bufferCmd(std::string cmd);
    // Owning thread: hands the queued commands, each followed by one space,
    // oldest first, to the transport as far as it takes them without
    // waiting; the rest waits for the next call. Throws Utils::NetErrorSend
    // when the connection counts as broken: a send failed, unsentLimit was
    // passed, or nothing was taken for stallLimitMs.
    void sendCommands();
    // Owning thread: one read of at most 256 bytes after waiting at most
    // timeout ms, zero bytes included.
    std::string recvCmd(int timeout);
    // Owning thread: waits at most timeout ms (-1: no limit) until the peer
    // sends, a command is queued or `stop` is raised, and then reads what
    // the peer sent, as recvCmd does; empty when the wait ended otherwise.
    std::string recvCmdOrWake(int timeout, const Wakeup& stop);
    // Owning thread: whether commands wait that the transport did not
    // take yet.
    bool hasUnsent() const { return !_sending.empty(); }

    // A new heap Net for the next peer (the caller owns it), or null when
    // giveUp said so first.
    Net* accept(const std::function<bool()>& giveUp = {});
    // The same, giving up once stop is raised.
    Net* acceptUntil(const Wakeup& stop);
    int receive(void* buf, int size, int count, int timeout);
    // One read of at most size bytes, as receive, but 0 instead of
    // Utils::NetErrorTimeout when nothing came within timeout ms.
    int receiveWaiting(void* buf, int size, int timeout);
    int sendData(const char* data, int len);

    // A datagram listener's choice of senders, and what it dropped; see
    // SDLUDP. The owning thread.
    void hearOnly(uint32_t host);
    void hearNoOne();
    void hearNextSender();
    const SenderDrops& drops() const;
    // When the datagram received last came in, by the steady clock; now
    // for a transport that does not tell. The owning thread.
    std::chrono::steady_clock::time_point arrivedAt() const;
    // The connected peer's IPv4 address (network byte order), 0 if unknown.
    // Any thread: fixed once the connection is accepted.
    uint32_t peerHost() const;

private:
    friend class SDLTCP;
    friend class SDLUDP;

    // SDLNet_Init under a process-wide lock: Nets and transports are
    // constructed on several threads. Prints the library's reason and
    // throws Utils::NetErrorLibrary on failure.
    static void initLibrary();

    static Net* wrap(std::unique_ptr<NetImplementation> peer);
    // The transport as the one that has the operation asked for, or null:
    // a transport of the other kind (or a test's) does without it.
    SDLTCP* stream() const;
    SDLUDP* datagrams() const;
    void takeQueued();
    void noteProgress(int sent);

    std::unique_ptr<NetImplementation> _impl;

    // Guarded by _cmdMutex, which is never held while sending. _queued is
    // raised for each command queued and cleared by the owning thread
    // before it takes them.
    std::deque<std::string> _cmds;
    size_t _unsent = 0; // bytes in _cmds and _sending
    bool _overflowed = false;
    Mutex _cmdMutex;
    Wakeup _queued;

    // Owning thread only.
    std::string _sending; // taken from _cmds, not yet taken by the transport
    std::chrono::steady_clock::time_point _lastTaken;

    static bool _initialized;
};

} // namespace Wrappers
