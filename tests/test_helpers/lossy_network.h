#pragma once

#include <string>

namespace TestHelpers {

// Moves this process, and every process it starts from then on, into a
// network of its own (its ports clash with no one's), whose loopback drops
// the datagrams to the stream's port that `rule` picks, an nftables
// expression such as "numgen random mod 100 < 5". False when this cannot
// be done here (not root, no nftables).
bool enterLossyNetwork();
// Replaces the rule; false when nftables refused it.
bool dropDatagrams(const std::string& rule);

} // namespace TestHelpers
