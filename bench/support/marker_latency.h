#pragma once

namespace Bench {

// How long after a buffer is handed to AudioIO::trigger() its sound appears
// on the null sink's monitor, beside the same figure for a bare RtAudio
// callback stream with the same settings (from the callback that produces a
// buffer to its sound), measured in the same run with the same recorder.
// Prints one line for the bare stream and one for each way of starting the
// output. Needs the test sound server.
void printHandOverLatency();

} // namespace Bench
