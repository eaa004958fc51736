#include "wrappers/output_closer.h"

#include "audio/handover.h"

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

void OutputCloser::close(std::unique_ptr<RtAudio> audio, std::unique_ptr<Audio::Handover> handover) noexcept
{
    // Released first: a thread that cannot be made leaves them as they are
    // rather than closing them here.
    RtAudio* const stream = audio.release();
    Audio::Handover* const exchange = handover.release();
    ++closers;
    try {
        std::thread closer([stream, exchange] {
            try {
                delete stream;
            } catch (...) {
            }
            delete exchange;
            --closers;
        });
        closer.detach();
    } catch (...) {
        --closers;
    }
}

} // namespace Wrappers
