#include "send/pulse_module.h"

#include "send/send_errors.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

namespace Send {

namespace {

// Runs the loop until the operation is done; the loop is ours alone, so
// nothing else is waited for.
void await(pa_mainloop* loop, pa_operation* op)
{
    while (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_mainloop_iterate(loop, 1, nullptr);
    if (op)
        pa_operation_unref(op);
}

} // namespace

PulseModule::PulseModule() : _index(PA_INVALID_INDEX)
{
    try {
        connect();
    } catch (...) {
        release();
        throw;
    }
}

void PulseModule::load(const std::string& name, const std::string& arguments)
{
    await(_loop, pa_context_load_module(_context, name.c_str(), arguments.c_str(), onIndex, this));
    if (_index == PA_INVALID_INDEX)
        throw NoSourceError("the sound server refuses " + name + ": "
                            + pa_strerror(pa_context_errno(_context)));
}

bool PulseModule::hasSink(const std::string& name)
{
    _sinkFound = false;
    await(_loop, pa_context_get_sink_info_by_name(_context, name.c_str(), onSink, this));
    return _sinkFound;
}

PulseModule::~PulseModule()
{
    if (_index != PA_INVALID_INDEX)
        await(_loop, pa_context_unload_module(_context, _index, nullptr, nullptr));
    release();
}

void PulseModule::connect()
{
    _loop = pa_mainloop_new();
    _context = pa_context_new(pa_mainloop_get_api(_loop), "veldrane-send");
    if (!_context)
        throw NoSoundServerError("cannot reach the sound server");
    if (pa_context_connect(_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        throw NoSoundServerError(std::string("cannot reach the sound server: ")
                                 + pa_strerror(pa_context_errno(_context)));
    for (;;) {
        pa_context_state_t state = pa_context_get_state(_context);
        if (state == PA_CONTEXT_READY)
            return;
        if (!PA_CONTEXT_IS_GOOD(state))
            throw NoSoundServerError(std::string("cannot reach the sound server: ")
                                     + pa_strerror(pa_context_errno(_context)));
        pa_mainloop_iterate(_loop, 1, nullptr);
    }
}

void PulseModule::release()
{
    if (_context) {
        pa_context_disconnect(_context);
        pa_context_unref(_context);
        _context = nullptr;
    }
    if (_loop) {
        pa_mainloop_free(_loop);
        _loop = nullptr;
    }
}

void PulseModule::onSink(pa_context* /*context*/, const pa_sink_info* info, int eol, void* self)
{
    if (eol == 0 && info)
        static_cast<PulseModule*>(self)->_sinkFound = true;
}

void PulseModule::onIndex(pa_context* /*context*/, uint32_t index, void* self)
{
    static_cast<PulseModule*>(self)->_index = index;
}

} // namespace Send
