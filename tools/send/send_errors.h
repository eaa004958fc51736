#pragma once

#include <stdexcept>

namespace Send {

// Failures that the exit status tells apart; any other std::runtime_error
// is unexpected.

// The input cannot be opened or read, or breaks off in a decoding error
// after some of its audio was sent.
struct UnreadableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The input holds no audio that can be decoded.
struct NotAudioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// No sound server answers.
struct NoSoundServerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The sound server has no such source, or the output device (or the
// process that holds it) cannot be made.
struct NoSourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The Vorbis encoder refuses its settings.
struct EncoderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace Send
