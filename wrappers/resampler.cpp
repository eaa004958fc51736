#include "wrappers/resampler.h"

#include "utils/console.h"
#include "utils/errors.h"

#include <soxr.h>

#include <string>

namespace Wrappers {

Resampler::~Resampler()
{
    if (_soxr)
        soxr_delete(_soxr);
}

void Resampler::start(double inRate, bool variable)
{
    if (_soxr && inRate == _inRate && variable == _variable) {
        soxr_clear(_soxr);
        setSpeed(1.0, 0);
        return;
    }
    stop();
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, variable ? SOXR_VR : 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    // A variable resampler is created for the largest input-to-output ratio
    // it will be asked for; the ratio in use is set afterwards.
    const double maxInRate = variable ? inRate * (1.0 + maxSpeedChange) : inRate;
    _soxr = soxr_create(maxInRate, outputRate, 2, &error, &io, &quality, &runtime);
    if (error || !_soxr) {
        Utils::printErr(std::string("Resampler: ") + (error ? error : "soxr_create failed") + "\n");
        stop();
        throw Utils::AdError();
    }
    _inRate = inRate;
    _variable = variable;
    setSpeed(1.0, 0);
}

void Resampler::setSpeed(double speed, size_t frames)
{
    _speed = speed;
    if (_soxr && _variable)
        soxr_set_io_ratio(_soxr, _inRate / outputRate * speed, frames);
}

double Resampler::delayFrames() const
{
    return _soxr ? soxr_delay(_soxr) : 0.0;
}

void Resampler::stop()
{
    if (_soxr)
        soxr_delete(_soxr);
    _soxr = nullptr;
    _inRate = 0;
    _variable = false;
    _speed = 1.0;
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
