#pragma once

#include <chrono>
#include <functional>

namespace TestHelpers {

// Polls cond every few milliseconds until it holds or timeout passes;
// returns whether it held. Tests use it instead of fixed sleeps, so that
// they fail instead of hanging.
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout);

} // namespace TestHelpers
