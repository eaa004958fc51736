#include "test_helpers/lossy_network.h"

#include <sched.h>

#include <cstdlib>

namespace TestHelpers {

bool enterLossyNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    // On the input hook, so that the datagram is sent and lost on the way,
    // as a network loses it; on output, sendto would fail instead.
    return std::system("ip link set lo up && nft add table inet loss && nft add chain inet loss input "
                       "'{ type filter hook input priority 0; }'")
           == 0;
}

bool dropDatagrams(const std::string& rule)
{
    const std::string command =
        "nft flush chain inet loss input && nft add rule inet loss input 'udp dport 6666 " + rule + " drop'";
    return std::system(command.c_str()) == 0;
}

} // namespace TestHelpers
