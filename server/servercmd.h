#pragma once

#include "server/controlparser.h"
#include "utils/observer.h"
#include "wrappers/net.h"
#include "wrappers/sdl_thread.h"
#include "wrappers/wakeup.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace Server {

// The control channel: serves one controller at a time on a TCP port,
// turns its words into signals and replies, and carries replies queued by
// other threads back to it.
class ServerCmd : public Wrappers::Thread {
public:
    using Clock = std::chrono::steady_clock;

    // Opens the listening socket, so that a port in use fails here, on the
    // constructing thread (Utils::NetErrorCreateSocket), not on the worker;
    // so does a network library that will not start (Utils::NetErrorLibrary)
    // or a wake-up that cannot be made (Utils::NetErrorWakeup).
    explicit ServerCmd(int port);
    ~ServerCmd();

    // Constructed in this order, so delivered in this order within a pass.
    // Repeated raises waiting for the same pass count as one: each of them
    // asks for a state, not for an action per raise, and a flood of words
    // must not grow the queues.
    Utils::Signal _startTransmissionAgainSignal{Utils::Signal::Pending::OnePerValue};
    Utils::Signal _startTransmissionSignal{Utils::Signal::Pending::OnePerValue};
    Utils::Signal _connectionBrokenSignal{Utils::Signal::Pending::OnePerValue};

    // Any thread: queue a reply for the current controller; dropped when
    // none is connected.
    void sendUdpReady(int port);
    void initTransmissionFailed();

    // A controller's connection, to address replies to it alone: they are
    // dropped once it is gone, never sent to whoever came next.
    using Controller = std::weak_ptr<Wrappers::Net>;
    // Any thread.
    Controller controller() const;
    static void sendUdpReady(int port, const Controller& to);
    static void initTransmissionFailed(const Controller& to);
    // Any thread: `listener` hears datagrams only from the controller's
    // host, and from no one once the controller has gone (or where its
    // address is unknown): a run must never take a stranger's stream.
    static void hearOnly(const Controller& controller, Wrappers::Net& listener);
    // "readerror" belongs to the controllers' vocabulary, but read errors
    // stay on the receiver's console: nothing sends it.
    void sendReadError();

protected:
    void threadMain() override;

private:
    void serve();
    void receive(Wrappers::Net& peer);
    void obey(const std::shared_ptr<Wrappers::Net>& peer);
    void endOpenWord(const std::shared_ptr<Wrappers::Net>& peer);
    void queue(const std::string& cmd);
    static void queue(const std::string& cmd, const Controller& to);

    Wrappers::Net _listener;
    // Raised by the destructor: ends the wait for a controller, or for a
    // controller's words, at once, without the server thread waking to
    // look for it.
    Wrappers::Wakeup _stopping;
    // Published by the server thread, read by others; released by whoever
    // drops the last reference, so a replaced connection is closed once no
    // thread is queueing on it. Accessed only with std::atomic_load/store.
    std::shared_ptr<Wrappers::Net> _peer;
    // Server thread only: the current controller's words, and the commands
    // of one read (kept for its capacity).
    ControlParser _parser;
    std::vector<Command> _commands;
    Clock::time_point _lastRead; // the controller's last bytes
};

} // namespace Server
