#pragma once

#include <cstdint>
#include <string>

struct pa_mainloop;
struct pa_context;
struct pa_sink_info;

namespace Send {

// A connection to the sound server through libpulse (PulseAudio, or
// PipeWire's pipewire-pulse, which emulates the modules that matter here),
// and the module it loaded, which is unloaded when this object ends.
class PulseModule {
public:
    // Throws NoSoundServerError when no server answers.
    PulseModule();
    ~PulseModule();
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;

    // Throws NoSourceError when the server refuses the module. Once only.
    void load(const std::string& name, const std::string& arguments);
    bool hasSink(const std::string& name);

private:
    void connect();
    void release();
    static void onIndex(pa_context* context, uint32_t index, void* self);
    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* self);

    pa_mainloop* _loop = nullptr;
    pa_context* _context = nullptr;
    uint32_t _index;
    bool _sinkFound = false;
};

} // namespace Send
