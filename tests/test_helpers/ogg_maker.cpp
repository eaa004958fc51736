#include "test_helpers/ogg_maker.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace TestHelpers {

namespace {

void appendPage(Bytes& out, const ogg_page& page)
{
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

struct MemorySource {
    const Bytes* data;
    size_t pos;
};

size_t memRead(void* ptr, size_t size, size_t nmemb, void* src)
{
    auto* m = static_cast<MemorySource*>(src);
    size_t n = std::min(size * nmemb, m->data->size() - m->pos);
    std::memcpy(ptr, m->data->data() + m->pos, n);
    m->pos += n;
    return size ? n / size : 0;
}

} // namespace

float testSignal(const OggSpec& spec, int ch, long i)
{
    const double pi = 3.14159265358979323846;
    double t = double(i) / double(spec.rate);
    double f0 = ch == 0 ? 440.0 : 660.0;
    double phase = f0 * t;
    if (spec.sweep) {
        // Frequency rises by half of f0 over the stream's length.
        double len = std::max(spec.seconds, 0.001);
        phase += f0 * 0.5 * t * t / (2.0 * len);
    }
    return float(spec.amplitude * std::sin(2.0 * pi * phase));
}

Bytes encodeOgg(const OggSpec& spec)
{
    if (spec.channels < 1 || spec.channels > 2)
        throw std::invalid_argument("encodeOgg: 1 or 2 channels");

    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, spec.channels, spec.rate, spec.quality) != 0) {
        vorbis_info_clear(&vi);
        throw std::runtime_error("encodeOgg: vorbis_encode_init_vbr failed");
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, spec.serial);

    Bytes out;
    ogg_page page;
    ogg_packet packet;

    ogg_packet header, comment, code;
    vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comment);
    ogg_stream_packetin(&os, &code);
    // Audio starts on a fresh page, as decoders expect.
    while (ogg_stream_flush(&os, &page) != 0)
        appendPage(out, page);

    const long total = long(std::llround(spec.seconds * double(spec.rate)));
    const long chunk = 1024;
    bool eos = false;
    for (long done = 0; !eos;) {
        long n = std::min(chunk, total - done);
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, int(n));
            for (int ch = 0; ch < spec.channels; ++ch)
                for (long i = 0; i < n; ++i)
                    buf[ch][i] = testSignal(spec, ch, done + i);
            vorbis_analysis_wrote(&vd, int(n));
            done += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &packet) == 1) {
                ogg_stream_packetin(&os, &packet);
                while (ogg_stream_pageout(&os, &page) != 0) {
                    appendPage(out, page);
                    if (ogg_page_eos(&page))
                        eos = true;
                }
            }
        }
        if (n <= 0 && !eos) {
            while (ogg_stream_flush(&os, &page) != 0) {
                appendPage(out, page);
                if (ogg_page_eos(&page))
                    eos = true;
            }
            eos = true;
        }
    }

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

Bytes chainOgg(const std::vector<Bytes>& links)
{
    Bytes out;
    for (const Bytes& l : links)
        out.insert(out.end(), l.begin(), l.end());
    return out;
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

std::vector<float> referenceDecode(const Bytes& stream, std::vector<long>* linkFrames)
{
    MemorySource src{&stream, 0};
    ov_callbacks cb{memRead, nullptr, nullptr, nullptr};
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
        bool stereo = vi && vi->channels == 2;
        for (long i = 0; i < r; ++i) {
            out.push_back(stereo ? pcm[0][i] : 0.0f);
            out.push_back(stereo ? pcm[1][i] : 0.0f);
        }
    }
    ov_clear(&vf);
    return out;
}

} // namespace TestHelpers
