#include "send/pulse_capture.h"

#include "send/send_errors.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace Send {

namespace {

const size_t framesPerRead = PcmSource::rate / 100;

} // namespace

const char* const PulseCapture::defaultSource = "@DEFAULT_MONITOR@";

PulseCapture::PulseCapture(const std::string& source) : _source(source)
{
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32LE;
    format.rate = PcmSource::rate;
    format.channels = PcmSource::channels;
    // Without a fragment size the server hands recorded audio over in
    // pieces of two seconds.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(framesPerRead * PcmSource::channels * sizeof(float));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    int error = 0;
    _stream = pa_simple_new(nullptr, "veldrane-send", PA_STREAM_RECORD, source.c_str(), "sent to a receiver",
                            &format, nullptr, &attr, &error);
    if (_stream)
        return;
    if (error == PA_ERR_NOENTITY)
        throw NoSourceError("the sound server has no source " + source);
    throw NoSoundServerError(std::string("cannot reach the sound server: ") + pa_strerror(error));
}

PulseCapture::~PulseCapture()
{
    pa_simple_free(_stream);
}

bool PulseCapture::read(std::vector<float>& samples)
{
    samples.resize(framesPerRead * PcmSource::channels);
    int error = 0;
    if (pa_simple_read(_stream, samples.data(), samples.size() * sizeof(float), &error) < 0)
        throw NoSoundServerError(std::string("the sound server stopped recording: ") + pa_strerror(error));
    return true;
}

void PulseCapture::rewind()
{
    int error = 0;
    pa_simple_flush(_stream, &error);
}

} // namespace Send
