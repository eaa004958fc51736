#pragma once

#include <memory>

class RtAudio;

namespace Audio {
class Handover;
}

namespace Wrappers {

// Closes an output given up on. Stopping or closing a stream waits for the
// sound server, which may never answer again (a stopped process), so the
// library object and the hand-over its audio thread uses go to a thread of
// their own that closes them whenever the server lets it, and the owner's
// thread never waits for that.
class OutputCloser {
public:
    // Called by the output's owner; never throws, never waits for the
    // server. The hand-over must have been stopped.
    static void close(std::unique_ptr<RtAudio> audio, std::unique_ptr<Audio::Handover> handover) noexcept;
};

} // namespace Wrappers
