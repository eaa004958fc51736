#include "wrappers/sender_drops.h"

#include <algorithm>

namespace Wrappers {

void SenderDrops::note(uint32_t host, uint16_t port)
{
    ++_datagrams;
    const uint64_t sender = (uint64_t{host} << 16) | port;
    if (std::find(_senders.begin(), _senders.end(), sender) != _senders.end())
        return;
    if (_senders.size() < maxSenders)
        _senders.push_back(sender);
    else
        _more = true;
}

void SenderDrops::clear()
{
    _datagrams = 0;
    _senders.clear();
    _more = false;
}

} // namespace Wrappers
