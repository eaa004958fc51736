#pragma once

#include "send/pcm_source.h"

#include <string>
#include <vector>

struct pa_simple;

namespace Send {

// What a source of the sound server records (PulseAudio, or PipeWire's
// pipewire-pulse), through libpulse-simple, in reads of 10 ms so that the
// delay it adds stays short.
class PulseCapture : public PcmSource {
public:
    // The monitor of the default output: everything this computer plays.
    static const char* const defaultSource;

    // Throws NoSoundServerError or NoSourceError.
    explicit PulseCapture(const std::string& source);
    ~PulseCapture() override;

    // Waits for the next 10 ms; never ends.
    bool read(std::vector<float>& samples) override;
    // Drops what waited, so that a new stream starts with what plays now.
    void rewind() override;
    bool live() const override { return true; }

private:
    std::string _source;
    pa_simple* _stream = nullptr;
};

} // namespace Send
