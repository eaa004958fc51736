#pragma once

#include <cstddef>

namespace Utils {

// The words of the control channel, as they go on the wire. A controller
// sends the first three; the receiver answers with the others ("alive" and
// "udpReady" followed by a number).
constexpr const char* wordStart = "startTransmission";
constexpr const char* wordStartAgain = "startTransmissionAgain";
constexpr const char* wordAlive = "alive";
constexpr const char* wordUdpReady = "udpReady";
constexpr const char* wordInitFailed = "initTransmissionFailed";
constexpr const char* wordReadError = "readerror";
// The longest word either side keeps or shows whole; none of the above is
// longer.
constexpr size_t maxWordBytes = 64;

// The receiver's fixed control port (TCP), where controllers connect; also
// the sender's default.
constexpr int controlPort = 8888;
// Attempts to open the stream in one reception run: the receiver allows
// this many, and a sender gives up after as many failures.
constexpr int attemptsPerRun = 5;

} // namespace Utils
