#pragma once

#include <functional>
#include <string>

namespace Wrappers {

// A transport behind Net: a TCP stream or UDP datagrams. One thread drives
// an instance at a time. What only one transport can do is that
// transport's own (SDLTCP, SDLUDP), reached by Net where it is needed.
class NetImplementation {
public:
    virtual ~NetImplementation() = default;

    virtual void setupListen(int port) = 0;
    virtual void setupSend(std::string host, int port) = 0;
    virtual int sendData(const char* data, int len) = 0;
    // Reads at most size * count bytes, after waiting at most timeout ms
    // for data when timeout > 0. Returns at least 1; failures throw.
    virtual int receive(void* buf, int size, int count, int timeout) = 0;
    // A transport for one accepted peer, or null where there is nothing to
    // accept. Blocks until a peer connects or giveUp (when given) says so.
    virtual NetImplementation* accept(const std::function<bool()>& giveUp) = 0;
};

} // namespace Wrappers
