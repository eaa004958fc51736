#pragma once

#include <memory>

class RtAudio;

namespace Wrappers {

// The audio library's object, made once and lent to one output at a time.
// Making one connects to the sound server and lists every device, and
// libpulse keeps a little memory of each for good, so a reception run
// borrows this one instead of making its own.
//
// Made on any thread; lend() and giveBack() are called by the thread that
// opens the outputs, one output at a time.
class AudioLibrary {
public:
    // Throws Utils::AudioError when the library cannot be set up; its own
    // message is on standard error.
    AudioLibrary();
    ~AudioLibrary();
    AudioLibrary(const AudioLibrary&) = delete;
    AudioLibrary& operator=(const AudioLibrary&) = delete;

    // The object for one output's stream. When the last one lent was not
    // given back (an output left it to close a frozen stream in the
    // background), a new one is made; throws as the constructor does.
    std::unique_ptr<RtAudio> lend();
    // Takes back an object whose stream is closed.
    void giveBack(std::unique_ptr<RtAudio> audio);

private:
    static std::unique_ptr<RtAudio> make();

    std::unique_ptr<RtAudio> _audio;
};

} // namespace Wrappers
