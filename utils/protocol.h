#pragma once

namespace Utils {

// The receiver's fixed control port (TCP), where controllers connect; also
// the sender's default.
constexpr int controlPort = 8888;
// Attempts to open the stream in one reception run: the receiver allows
// this many, and a sender gives up after as many failures.
constexpr int attemptsPerRun = 5;

} // namespace Utils
