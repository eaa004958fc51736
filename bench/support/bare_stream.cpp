#include "support/bare_stream.h"

namespace Bench {

void startBareStream(RtAudio& dac, unsigned int& frames, RtAudioCallback callback, void* user,
                     RtAudioErrorCallback onError)
{
    RtAudio::StreamParameters out;
    out.deviceId = dac.getDefaultOutputDevice();
    out.nChannels = 2;
    RtAudio::StreamOptions options;
    options.numberOfBuffers = 1;
    dac.openStream(&out, nullptr, RTAUDIO_FLOAT32, 44100, &frames, callback, user, &options, onError);
    dac.startStream();
}

} // namespace Bench
