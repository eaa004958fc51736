#pragma once

#include "wrappers/net_implementation.h"
#include "wrappers/sender_drops.h"

#include <SDL_net.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Wrappers {

// UDP datagram transport: a listener hands up one datagram per receive; a
// sender cuts a buffer into datagrams of at most 1024 bytes towards one
// destination. One thread drives an instance at a time.
//
// The listener holds its own descriptor (SDL_net sends): the kernel tells
// when each datagram came in, which the decoding thread, reading in
// bursts between hand-overs, could only tell tens of milliseconds late.
class SDLUDP : public NetImplementation {
public:
    SDLUDP();
    ~SDLUDP() override;
    SDLUDP(const SDLUDP&) = delete;
    SDLUDP& operator=(const SDLUDP&) = delete;

    void setupListen(int port) override;
    void setupSend(std::string host, int port) override;
    int sendData(const char* data, int len) override;
    // One datagram per call. A datagram longer than the request is served
    // over the following calls, before the next datagram. A request with
    // room for any datagram gets it straight from the socket.
    int receive(void* buf, int size, int count, int timeout) override;
    // As receive, but 0 instead of Utils::NetErrorTimeout when nothing came
    // within timeout ms: the decoding thread looks for more after every
    // datagram, and an exception each time costs more than the datagram.
    int receiveWaiting(void* buf, int size, int timeout);
    // When the datagram received last came in, by this machine's steady
    // clock.
    std::chrono::steady_clock::time_point arrivedAt() const { return _arrivedAt; }
    NetImplementation* accept(const std::function<bool()>& giveUp) override;

    // Waits at most timeout ms for a datagram to be ready.
    void sel(int timeout);

    // A listener hears anyone until told otherwise. After hearOnly it hears
    // only datagrams from host and, from the first one it accepts on, only
    // from that one's port; after hearNoOne nothing at all.
    void hearOnly(uint32_t host);
    void hearNoOne();
    // The next datagram from the heard host may come from a new port.
    void hearNextSender();
    // What a listener did not hear, by sender.
    const SenderDrops& drops() const { return _drops; }

private:
    int serve(void* buf, int want, int timeout);
    int nextDatagram(void* into, int timeout);
    int receiveOne(void* into);
    bool heard(uint32_t host, uint16_t port);

    // Sending, through SDL_net.
    IPaddress _address;
    UDPsocket _sock;
    UDPpacket* _packet;
    int _channel;
    // Listening: the descriptor, and the datagram served over several
    // receives when a request has less room than it.
    int _fd = -1;
    std::vector<unsigned char> _datagram;
    int _length = 0;
    int _served = 0; // bytes of _datagram already handed out
    std::chrono::steady_clock::time_point _arrivedAt{};
    enum class Hearing { anyone, host, noOne };
    Hearing _hearing = Hearing::anyone;
    uint32_t _heardHost = 0; // as SDL_net keeps it: network byte order
    uint16_t _heardPort = 0;
    SenderDrops _drops;
};

} // namespace Wrappers
