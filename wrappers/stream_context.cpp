#include "wrappers/stream_context.h"

namespace Wrappers {

namespace {

thread_local StreamContext* actingFor = nullptr;

} // namespace

StreamContext::Acting::Acting(StreamContext& context) : _previous(actingFor)
{
    actingFor = &context;
}

StreamContext::Acting::~Acting()
{
    actingFor = _previous;
}

StreamContext::StreamContext(unsigned int frames) : _handover(frames)
{
}

void StreamContext::deliver(float* out, unsigned int frames)
{
    actingFor = this;
    _handover.deliver(out, frames);
}

void StreamContext::chargeCallingThread()
{
    if (actingFor)
        ++actingFor->_failures;
}

} // namespace Wrappers
