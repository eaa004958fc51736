#pragma once

#include <RtAudio.h>

namespace Bench {

// Opens and starts what the baselines compare the output with: a bare
// stream of two float channels at 44100 Hz on the default device, with
// room for one buffer of `frames`.
void startBareStream(RtAudio& dac, unsigned int& frames, RtAudioCallback callback, void* user,
                     RtAudioErrorCallback onError = nullptr);

} // namespace Bench
