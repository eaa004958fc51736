// How long after a buffer is handed to AudioIO::trigger() its sound appears
// on the null sink's monitor, beside the same figure for a bare RtAudio
// callback stream with the same settings (from the callback that produces
// a buffer to its sound), measured in the same run with the same recorder.
//
// Needs the test sound server: scripts/pulse.sh start DIR and its env.

#include "support/marker_latency.h"

#include <RtAudio.h>

#include <cstdio>
#include <exception>

int main()
{
    try {
        Bench::printHandOverLatency();
    } catch (RtAudioError& e) {
        e.printMessage();
        return 1;
    } catch (std::exception& e) {
        std::fprintf(stderr, "audio_latency: %s\n", e.what());
        return 1;
    }
    return 0;
}
