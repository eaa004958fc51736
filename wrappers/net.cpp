#include "wrappers/net.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/sdl_tcp.h"
#include "wrappers/sdl_udp.h"

#include <SDL.h>
#include <SDL_net.h>

#include <cstdio>
#include <mutex>
#include <sstream>

namespace Wrappers {

bool Net::_initialized = false;

namespace {

std::mutex& libraryMutex()
{
    static std::mutex m;
    return m;
}

NetImplementation* makeTransport(ConnectionType type)
{
    if (type == ConnectionType::TCP)
        return new SDLTCP();
    return new SDLUDP();
}

void initLocked()
{
    if (SDLNet_Init() == -1) {
        std::printf("SDLNet_Init: %s\n", SDL_GetError());
        throw Utils::NetErrorLibrary();
    }
}

} // namespace

void Net::initLibrary()
{
    std::lock_guard<std::mutex> lock(libraryMutex());
    initLocked();
}

Net::Net(NetImplementation* i)
{
    // Owned from here on, so that a failed initialisation does not leak it.
    std::unique_ptr<NetImplementation> impl(i);
    {
        // Nets are constructed on several threads; the library is set up once.
        std::lock_guard<std::mutex> libraryLock(libraryMutex());
        if (!_initialized) {
            initLocked();
            _initialized = true;
        }
    }
    _impl = std::move(impl);
}

Net::~Net()
{
    std::ostringstream line;
    line << "i: " << static_cast<const void*>(_impl.get()) << "\n";
    Utils::printTrace("~Net()\n");
    Utils::printTrace(line.str());
    _impl.reset();
}

void Net::setupListen(int port, ConnectionType type)
{
    _impl.reset(makeTransport(type));
    _impl->setupListen(port);
}

void Net::setupSend(std::string host, int port, ConnectionType type)
{
    _impl.reset(makeTransport(type));
    _impl->setupSend(std::move(host), port);
}

void Net::bufferCmd(std::string cmd)
{
    {
        MutexLock lock(_cmdMutex);
        const size_t framed = cmd.size() + 1;
        if (_overflowed || _unsent + framed > unsentLimit) {
            _overflowed = true;
        } else {
            _unsent += framed;
            _cmds.push_back(std::move(cmd));
        }
    }
    // An overflow too: the owner finds it at its next flush.
    _queued.raise();
}

void Net::sendCommands()
{
    _queued.clear();
    takeQueued();
    if (_sending.empty())
        return;
    if (!_impl)
        throw Utils::NetErrorSend();
    // A transport that cannot tell how much it takes without waiting sends
    // it all.
    SDLTCP* tcp = stream();
    const int length = static_cast<int>(_sending.size());
    const int sent = tcp ? tcp->sendSome(_sending.data(), length) : _impl->sendData(_sending.data(), length);
    noteProgress(sent);
}

// Owning thread: moves the queue into _sending under the lock, which is
// released before anything is sent.
void Net::takeQueued()
{
    MutexLock lock(_cmdMutex);
    if (_overflowed) {
        Utils::printErr("Net::sendCommands(): more than " + std::to_string(unsentLimit)
                        + " bytes wait for the peer\n");
        throw Utils::NetErrorSend();
    }
    if (_sending.empty() && !_cmds.empty())
        _lastTaken = std::chrono::steady_clock::now();
    for (const std::string& cmd : _cmds) {
        _sending += cmd;
        _sending += ' ';
    }
    _cmds.clear();
}

void Net::noteProgress(int sent)
{
    const auto now = std::chrono::steady_clock::now();
    if (sent > 0) {
        _sending.erase(0, static_cast<size_t>(sent));
        _lastTaken = now;
        MutexLock lock(_cmdMutex);
        _unsent -= static_cast<size_t>(sent);
        return;
    }
    if (now - _lastTaken > std::chrono::milliseconds(stallLimitMs)) {
        Utils::printErr("Net::sendCommands(): the peer took nothing for "
                        + std::to_string(stallLimitMs / 1000) + " s\n");
        throw Utils::NetErrorSend();
    }
}

std::string Net::recvCmd(int timeout)
{
    char buffer[256];
    const int n = receive(buffer, sizeof buffer, 1, timeout);
    return std::string(buffer, static_cast<size_t>(n));
}

std::string Net::recvCmdOrWake(int timeout, const Wakeup& stop)
{
    if (!_impl)
        throw Utils::NetErrorFault();
    // A transport that cannot wait on wake-ups lets its receive wait.
    SDLTCP* tcp = stream();
    if (tcp && !tcp->waitForBytes(timeout, {&_queued, &stop}))
        return {};
    return recvCmd(0);
}

Net* Net::accept(const std::function<bool()>& giveUp)
{
    if (!_impl)
        return nullptr;
    std::unique_ptr<NetImplementation> peer(_impl->accept(giveUp));
    if (!peer && giveUp && giveUp())
        return nullptr;
    return wrap(std::move(peer));
}

Net* Net::acceptUntil(const Wakeup& stop)
{
    if (!_impl)
        return nullptr;
    SDLTCP* tcp = stream();
    std::unique_ptr<NetImplementation> peer(tcp ? tcp->acceptUntil(stop)
                                                : _impl->accept([&stop] { return stop.raised(); }));
    if (!peer && stop.raised())
        return nullptr;
    return wrap(std::move(peer));
}

// The Net is made before it takes the peer, so that a Net that cannot be
// made (no descriptor for its wake-up) leaves the peer here to be closed.
Net* Net::wrap(std::unique_ptr<NetImplementation> peer)
{
    auto net = std::make_unique<Net>();
    net->_impl = std::move(peer);
    return net.release();
}

int Net::receive(void* buf, int size, int count, int timeout)
{
    if (!_impl)
        throw Utils::NetErrorFault();
    return _impl->receive(buf, size, count, timeout);
}

int Net::receiveWaiting(void* buf, int size, int timeout)
{
    if (SDLUDP* udp = datagrams())
        return udp->receiveWaiting(buf, size, timeout);
    try {
        return receive(buf, size, 1, timeout);
    } catch (const Utils::NetErrorTimeout&) {
        return 0;
    }
}

SDLTCP* Net::stream() const
{
    return dynamic_cast<SDLTCP*>(_impl.get());
}

SDLUDP* Net::datagrams() const
{
    return dynamic_cast<SDLUDP*>(_impl.get());
}

void Net::hearOnly(uint32_t host)
{
    if (SDLUDP* udp = datagrams())
        udp->hearOnly(host);
}

void Net::hearNoOne()
{
    if (SDLUDP* udp = datagrams())
        udp->hearNoOne();
}

void Net::hearNextSender()
{
    if (SDLUDP* udp = datagrams())
        udp->hearNextSender();
}

const SenderDrops& Net::drops() const
{
    static const SenderDrops none;
    const SDLUDP* udp = datagrams();
    return udp ? udp->drops() : none;
}

std::chrono::steady_clock::time_point Net::arrivedAt() const
{
    const SDLUDP* udp = datagrams();
    return udp ? udp->arrivedAt() : std::chrono::steady_clock::now();
}

uint32_t Net::peerHost() const
{
    const SDLTCP* tcp = stream();
    return tcp ? tcp->peerHost() : 0;
}

int Net::sendData(const char* data, int len)
{
    if (!_impl)
        throw Utils::NetErrorSend();
    return _impl->sendData(data, len);
}

} // namespace Wrappers
