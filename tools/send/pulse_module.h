#pragma once

#include <cstdint>
#include <string>

struct pa_mainloop;
struct pa_context;

namespace Send {

// A module loaded into the sound server through libpulse for as long as
// this object lives (PulseAudio, or PipeWire's pipewire-pulse, which
// emulates the modules that matter here).
class PulseModule {
public:
    // Throws NoSoundServerError when no server answers, NoSourceError when
    // it refuses the module.
    PulseModule(const std::string& name, const std::string& arguments);
    ~PulseModule();
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;

private:
    void connect();
    void release();
    static void onIndex(pa_context* context, uint32_t index, void* self);

    pa_mainloop* _loop = nullptr;
    pa_context* _context = nullptr;
    uint32_t _index;
};

} // namespace Send
