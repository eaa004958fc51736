#include "wrappers/output_closer.h"

#include "wrappers/stream_context.h"

#include <RtAudio.h>

#include <atomic>
#include <thread>
#include <utility>

namespace Wrappers {

namespace {

std::atomic<int> closers{0};

} // namespace

int OutputCloser::alive()
{
    return closers;
}

void OutputCloser::close(std::unique_ptr<RtAudio> audio, std::unique_ptr<StreamContext> context) noexcept
{
    // Released first: a thread that cannot be made leaves them as they are
    // rather than closing them here.
    RtAudio* const stream = audio.release();
    StreamContext* const shared = context.release();
    ++closers;
    try {
        std::thread closer([stream, shared] {
            {
                const StreamContext::Acting acting(*shared);
                try {
                    delete stream;
                } catch (...) {
                }
            }
            delete shared;
            --closers;
        });
        closer.detach();
    } catch (...) {
        --closers;
    }
}

} // namespace Wrappers
