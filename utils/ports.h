#pragma once

namespace Utils {

// The receiver's fixed control port (TCP), where controllers connect; also
// the sender's default.
constexpr int controlPort = 8888;

} // namespace Utils
