#include "wrappers/resampler.h"

#include "utils/console.h"
#include "utils/errors.h"

#include <soxr.h>

#include <string>

namespace Wrappers {

Resampler::~Resampler()
{
    stop();
}

void Resampler::start(double inRate)
{
    if (_soxr && inRate == _inRate) {
        soxr_clear(_soxr);
        return;
    }
    stop();
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    _soxr = soxr_create(inRate, outputRate, 2, &error, &io, &quality, &runtime);
    if (error || !_soxr) {
        Utils::printErr(std::string("Resampler: ") + (error ? error : "soxr_create failed") + "\n");
        stop();
        throw Utils::AdError();
    }
    _inRate = inRate;
}

void Resampler::stop()
{
    if (_soxr)
        soxr_delete(_soxr);
    _soxr = nullptr;
    _inRate = 0;
}

size_t Resampler::process(const float* const in[2], size_t frames, size_t& used, float* out, size_t room)
{
    size_t written = 0;
    used = 0;
    // Passing idone makes the library take no more input than the room needs.
    soxr_process(_soxr, in, frames, &used, out, room, &written);
    return written;
}

size_t Resampler::flush(float* out, size_t room)
{
    size_t written = 0;
    soxr_process(_soxr, nullptr, 0, nullptr, out, room, &written);
    return written;
}

} // namespace Wrappers
