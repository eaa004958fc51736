#pragma once

#include <stdexcept>

namespace Send {

// Failures that the exit status tells apart; any other std::runtime_error
// means the input cannot be read.

// The input holds no audio that can be decoded.
struct NotAudioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// No sound server answers.
struct NoSoundServerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The sound server has no such source, or cannot make the output device.
struct NoSourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace Send
