#include "test_helpers/ogg_maker.h"

#include "test_helpers/ogg_pages.h"
#include "tune/ogg_encoder.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace TestHelpers {

size_t MemorySource::read(void* ptr, size_t size, size_t nmemb, void* source)
{
    auto* m = static_cast<MemorySource*>(source);
    size_t n = std::min(size * nmemb, m->data->size() - m->pos);
    std::memcpy(ptr, m->data->data() + m->pos, n);
    m->pos += n;
    return size ? n / size : 0;
}

float testSignal(const OggParams& params, int ch, long i)
{
    const double pi = 3.14159265358979323846;
    double t = double(i) / double(params.rate);
    double f0 = 440.0 + 220.0 * ch;
    double phase = f0 * t;
    if (params.sweep) {
        // Frequency rises by half of f0 over the stream's length.
        double len = std::max(params.seconds, 0.001);
        phase += f0 * 0.5 * t * t / (2.0 * len);
    }
    double gain = 1.0;
    if (params.markerSeconds > 0 && std::fmod(t, params.markerSeconds) < 0.010)
        gain = markerGain;
    double noise = 0;
    if (params.noise > 0) {
        // A hash of the sample's place, so that every call gives the same.
        uint32_t x = uint32_t(i) * 2654435761u ^ uint32_t(ch + 1) * 40503u;
        x ^= x >> 15;
        x *= 2246822519u;
        x ^= x >> 13;
        noise = params.noise * (double(x) / 2147483648.0 - 1.0);
    }
    return float(gain * params.amplitude * std::sin(2.0 * pi * phase) + noise);
}

OggParams musicLike(double seconds, int serial)
{
    OggParams params;
    params.seconds = seconds;
    params.serial = serial;
    params.noise = 0.01f;
    return params;
}

Bytes encodeOgg(const OggParams& params)
{
    if (params.channels < 1 || params.channels > 8)
        throw std::invalid_argument("encodeOgg: 1 to 8 channels");

    Tools::OggEncoder encoder(params.channels, params.rate, params.quality, params.serial);
    const long total = long(std::llround(params.seconds * double(params.rate)));
    const long chunk = 4096;
    std::vector<std::vector<float>> samples(size_t(params.channels), std::vector<float>(chunk));
    std::vector<const float*> channels;
    for (const auto& s : samples)
        channels.push_back(s.data());
    for (long done = 0; done < total;) {
        const long n = std::min(chunk, total - done);
        for (int ch = 0; ch < params.channels; ++ch)
            for (long i = 0; i < n; ++i)
                samples[ch][size_t(i)] = testSignal(params, ch, done + i);
        encoder.write(channels.data(), n);
        done += n;
    }
    return encoder.finish();
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes chainOgg(const std::vector<Bytes>& links)
{
    return concat(links);
}

Bytes garbageBytes(size_t count, uint32_t seed)
{
    Bytes out(count);
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < count; ++i) {
        // xorshift32
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<unsigned char>(x >> 24);
    }
    // Never start with a capture pattern, so the bytes cannot pass as Ogg.
    if (count >= 1 && out[0] == 'O')
        out[0] = 'X';
    return out;
}

std::vector<Bytes> splitDatagrams(const Bytes& stream, size_t n)
{
    if (n == 0)
        throw std::invalid_argument("splitDatagrams: n is 0");
    std::vector<Bytes> out;
    for (size_t pos = 0; pos < stream.size(); pos += n) {
        size_t len = std::min(n, stream.size() - pos);
        out.emplace_back(stream.begin() + long(pos), stream.begin() + long(pos + len));
    }
    return out;
}

std::vector<Bytes> splitPages(const Bytes& stream, size_t maxBytes)
{
    ogg_sync_state oy;
    ogg_sync_init(&oy);
    char* buf = ogg_sync_buffer(&oy, long(stream.size()));
    std::memcpy(buf, stream.data(), stream.size());
    ogg_sync_wrote(&oy, long(stream.size()));

    std::vector<Bytes> out;
    ogg_page page;
    bool packing = false; // whether out.back() may take more pages
    for (;;) {
        int r = ogg_sync_pageout(&oy, &page);
        if (r == 0)
            break;
        if (r < 0)
            continue; // bytes that are not a page: skipped
        size_t len = size_t(page.header_len + page.body_len);
        if (!packing || maxBytes == 0 || out.back().size() + len > maxBytes)
            out.emplace_back();
        appendPage(out.back(), page);
        packing = maxBytes > 0;
    }
    ogg_sync_clear(&oy);
    return out;
}

std::vector<float> referenceDecode(const Bytes& stream, std::vector<long>* linkFrames, long* holes)
{
    MemorySource src{&stream, 0};
    ov_callbacks cb{MemorySource::read, nullptr, nullptr, nullptr};
    OggVorbis_File vf;
    if (ov_open_callbacks(&src, &vf, nullptr, 0, cb) != 0)
        throw std::runtime_error("referenceDecode: not an Ogg Vorbis stream");

    std::vector<float> out;
    if (linkFrames)
        linkFrames->clear();
    int section = 0;
    int lastSection = -1;
    for (;;) {
        float** pcm = nullptr;
        long r = ov_read_float(&vf, &pcm, 4096, &section);
        if (holes && r == OV_HOLE)
            ++*holes;
        if (r == OV_HOLE || r == OV_EBADLINK)
            continue;
        if (r == 0)
            break;
        if (r < 0) {
            ov_clear(&vf);
            throw std::runtime_error("referenceDecode: decoding failed");
        }
        if (linkFrames) {
            if (section != lastSection)
                linkFrames->push_back(0);
            linkFrames->back() += r;
        }
        lastSection = section;
        vorbis_info* vi = ov_info(&vf, -1);
        const int channels = vi ? vi->channels : 0;
        for (long i = 0; i < r; ++i) {
            out.push_back(channels == 1 || channels == 2 ? pcm[0][i] : 0.0f);
            out.push_back(channels == 1 || channels == 2 ? pcm[channels - 1][i] : 0.0f);
        }
    }
    ov_clear(&vf);
    return out;
}

} // namespace TestHelpers
