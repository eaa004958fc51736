#include "server/servercmd.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "utils/protocol.h"

#include <algorithm>

namespace Server {

namespace {

// A word or an "alive" still open is ended by a pause this long.
constexpr auto receivePause = std::chrono::milliseconds(100);

int msUntil(ServerCmd::Clock::time_point t)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - ServerCmd::Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace

ServerCmd::ServerCmd(int port)
{
    _listener.setupListen(port, Wrappers::ConnectionType::TCP);
}

ServerCmd::~ServerCmd()
{
    // The worker uses the members below; it must be gone before they are.
    _stopping.raise();
    stopThread();
}

void ServerCmd::sendUdpReady(int port)
{
    queue(std::string(Utils::wordUdpReady) + " " + std::to_string(port));
}

ServerCmd::Controller ServerCmd::controller() const
{
    return std::atomic_load(&_peer);
}

void ServerCmd::sendUdpReady(int port, const Controller& to)
{
    queue(std::string(Utils::wordUdpReady) + " " + std::to_string(port), to);
}

void ServerCmd::initTransmissionFailed(const Controller& to)
{
    Utils::printOut("ServerCmd::initTransmissionFailed(): initTransmissionFailed\n");
    queue(Utils::wordInitFailed, to);
}

void ServerCmd::hearOnly(const Controller& controller, Wrappers::Net& listener)
{
    const std::shared_ptr<Wrappers::Net> peer = controller.lock();
    const uint32_t host = peer ? peer->peerHost() : 0;
    if (host != 0)
        listener.hearOnly(host);
    else
        listener.hearNoOne();
}

void ServerCmd::queue(const std::string& cmd, const Controller& to)
{
    if (const std::shared_ptr<Wrappers::Net> peer = to.lock())
        peer->bufferCmd(cmd);
}

void ServerCmd::initTransmissionFailed()
{
    Utils::printOut("ServerCmd::initTransmissionFailed(): initTransmissionFailed\n");
    queue(Utils::wordInitFailed);
}

void ServerCmd::sendReadError()
{
    queue(Utils::wordReadError);
}

void ServerCmd::queue(const std::string& cmd)
{
    // A copy keeps the connection alive while we queue on it, even if the
    // server thread drops it meanwhile.
    std::shared_ptr<Wrappers::Net> peer = std::atomic_load(&_peer);
    if (peer)
        peer->bufferCmd(cmd);
}

void ServerCmd::threadMain()
{
    while (!checkStop()) {
        std::shared_ptr<Wrappers::Net> peer;
        try {
            peer.reset(_listener.acceptUntil(_stopping));
        } catch (const Utils::NetErrorWakeup&) {
            // The connection is closed; the next controller may find a
            // descriptor free again.
            Utils::printErr("ServerCmd: a controller was refused: no descriptor left to serve it\n");
            continue;
        }
        if (!peer)
            return;
        _parser = ControlParser();
        _lastRead = Clock::now();
        std::atomic_store(&_peer, peer);
        Utils::printOut("ServerCmd: koblet til\n");
        serve();
    }
}

// Server thread: one controller, until its connection breaks or a stop is
// requested.
void ServerCmd::serve()
{
    const std::shared_ptr<Wrappers::Net> peer = std::atomic_load(&_peer);
    for (;;) {
        try {
            receive(*peer);
            obey(peer);
            peer->sendCommands();
        } catch (const Utils::NetErrorSend&) {
            // The read found the connection closed or failed, the wait
            // failed, or the controller does not take its replies: all mean
            // a lost controller. Dropping our reference closes the
            // connection once no other thread is queueing on it; replies
            // queued from now on are dropped.
            endOpenWord(peer);
            _connectionBrokenSignal(0);
            Utils::printOut("connection broken\n");
            std::atomic_store(&_peer, std::shared_ptr<Wrappers::Net>());
            return;
        }
        // The destructor raises _stopping just before it asks for the stop.
        if (checkStop() || _stopping.raised())
            return;
    }
}

// Server thread. Nothing more can join a word left open when its connection
// ends: it is a word, as after a pause, and acted on before the loss.
void ServerCmd::endOpenWord(const std::shared_ptr<Wrappers::Net>& peer)
{
    if (!_parser.waiting())
        return;
    _parser.pause(_commands);
    try {
        obey(peer);
    } catch (const Utils::NetError&) {
        _commands.clear(); // a reply to the lost controller goes nowhere
    }
}

// Server thread: sleeps until the controller sends, another thread queues
// a reply or a stop is asked for, and hands what came to the parser. Only a
// word left open (it ends after a pause) and replies the controller has
// not taken yet (they are offered again) set a time limit on the sleep.
void ServerCmd::receive(Wrappers::Net& peer)
{
    const int limit = static_cast<int>(receivePause.count());
    int timeout = _parser.waiting() ? msUntil(_lastRead + receivePause) : -1;
    if (peer.hasUnsent())
        timeout = timeout < 0 ? limit : std::min(timeout, limit);
    std::string chunk;
    try {
        chunk = peer.recvCmdOrWake(timeout, _stopping);
    } catch (const Utils::NetErrorTimeout&) {
        // A transport that cannot sleep on wake-ups waited in its receive.
    }
    if (!chunk.empty()) {
        _lastRead = Clock::now();
        _parser.read(chunk, _commands);
    } else if (_parser.waiting() && Clock::now() - _lastRead >= receivePause) {
        _parser.pause(_commands);
    }
}

// Server thread.
void ServerCmd::obey(const std::shared_ptr<Wrappers::Net>& peer)
{
    for (const Command& command : _commands) {
        switch (command.kind) {
        case Command::Kind::Start:
            _startTransmissionSignal(0);
            break;
        case Command::Kind::Again:
            _startTransmissionAgainSignal(0);
            break;
        case Command::Kind::Alive:
            peer->bufferCmd(std::string(Utils::wordAlive) + " " + std::to_string(command.value));
            break;
        case Command::Kind::Unknown:
            Utils::printErr("ServerCmd: Ukjent signal: " + WordSplitter::shown(command.word) + "\n");
            break;
        }
    }
    _commands.clear();
}

} // namespace Server
