#pragma once

#include <memory>

class RtAudio;

namespace Wrappers {

class StreamContext;

// Closes an output given up on. Stopping or closing a stream waits for the
// sound server, which may never answer again (a stopped process), so the
// library object and the context its audio thread uses go to a thread of
// their own that closes them whenever the server lets it, and the owner's
// thread never waits for that.
//
// A server that freezes again and again would leave a closer (a thread and
// a library object) for each output given up on, so their number is
// bounded: while `most` of them wait, no output opens.
class OutputCloser {
public:
    static constexpr int most = 3;

    // Any thread: the closers that have not finished yet.
    static int alive();

    // Called by the output's owner; never throws, never waits for the
    // server. The context's hand-over must have been stopped; what the
    // library reports meanwhile is charged to it.
    static void close(std::unique_ptr<RtAudio> audio, std::unique_ptr<StreamContext> context) noexcept;
};

} // namespace Wrappers
