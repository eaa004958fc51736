#pragma once

#include "wrappers/net_implementation.h"
#include "wrappers/sdl_mutex.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace Wrappers {

enum class ConnectionType { UDP = 0, TCP = 1 };

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

    // Any thread.
    void bufferCmd(std::string cmd);
    // Owning thread: sends each queued command followed by one space, one
    // send per command, oldest first.
    void sendCommands();
    // Owning thread: one read of at most 256 bytes after waiting at most
    // timeout ms; the text ends at the first zero byte.
    std::string recvCmd(int timeout);

    // A new heap Net for the next peer (the caller owns it), or null when
    // giveUp said so first.
    Net* accept(const std::function<bool()>& giveUp = {});
    int receive(void* buf, int size, int count, int timeout);
    int sendData(const char* data, int len);

    // A datagram listener's choice of senders, and what it dropped; see
    // SDLUDP. The owning thread.
    void hearOnly(uint32_t host);
    void hearNextSender();
    const SenderDrops& drops() const;
    // The connected peer's IPv4 address (network byte order), 0 if unknown.
    // Any thread: fixed once the connection is accepted.
    uint32_t peerHost() const;

private:
    friend class SDLTCP;
    friend class SDLUDP;

    // SDLNet_Init under a process-wide lock: Nets and transports are
    // constructed on several threads. Prints the library's reason and
    // throws Utils::NetErrorInit on failure.
    static void initLibrary();

    std::unique_ptr<NetImplementation> _impl;
    std::deque<std::string> _cmds;
    Mutex _cmdMutex;

    static bool _initialized;
};

} // namespace Wrappers
