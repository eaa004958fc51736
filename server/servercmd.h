#pragma once

#include "utils/observer.h"
#include "wrappers/net.h"
#include "wrappers/sdl_thread.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Server {

// The control channel: serves one controller at a time on a TCP port,
// turns its words into signals and replies, and carries replies queued by
// other threads back to it.
class ServerCmd : public Wrappers::Thread {
public:
    explicit ServerCmd(int port);
    ~ServerCmd();

    // Constructed in this order, so delivered in this order within a pass.
    Utils::Signal _startTransmissionAgainSignal;
    Utils::Signal _startTransmissionSignal;
    Utils::Signal _connectionBrokenSignal;

    // Any thread: queue a reply for the current controller; dropped when
    // none is connected.
    void sendUdpReady(int port);
    void initTransmissionFailed();

    // A controller's connection, to address replies to it alone: they are
    // dropped once it is gone, never sent to whoever came next.
    using Controller = std::weak_ptr<Wrappers::Net>;
    // Any thread.
    Controller controller() const;
    void sendUdpReady(int port, const Controller& to);
    void initTransmissionFailed(const Controller& to);
    // The controller's IPv4 address (network byte order), 0 when gone.
    static uint32_t hostOf(const Controller& controller);
    // "readerror" belongs to the controllers' vocabulary, but read errors
    // stay on the receiver's console: nothing sends it.
    void sendReadError();

protected:
    void threadMain() override;

private:
    void serve();
    void parse(const std::string& chunk);
    void queue(const std::string& cmd);
    static void queue(const std::string& cmd, const Controller& to);

    Wrappers::Net _listener;
    // Published by the server thread, read by others; released by whoever
    // drops the last reference, so a replaced connection is closed once no
    // thread is queueing on it. Accessed only with std::atomic_load/store.
    std::shared_ptr<Wrappers::Net> _peer;
    int _port;
    std::string _carry; // unfinished word of a full read, server thread only
};

} // namespace Server
