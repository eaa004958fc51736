#include "wrappers/audio_library.h"

#include "utils/errors.h"

#include <RtAudio.h>

namespace Wrappers {

AudioLibrary::AudioLibrary() : _audio(make())
{
}

AudioLibrary::~AudioLibrary() = default;

std::unique_ptr<RtAudio> AudioLibrary::lend()
{
    if (!_audio)
        return make();
    return std::move(_audio);
}

void AudioLibrary::giveBack(std::unique_ptr<RtAudio> audio)
{
    _audio = std::move(audio);
}

std::unique_ptr<RtAudio> AudioLibrary::make()
{
    try {
        return std::make_unique<RtAudio>();
    } catch (RtAudioError& e) {
        e.printMessage();
        throw Utils::AudioError();
    }
}

} // namespace Wrappers
