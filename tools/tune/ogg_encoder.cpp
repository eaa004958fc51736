#include "tune/ogg_encoder.h"

#include <algorithm>

namespace Tools {

namespace {

// Frames handed to the encoder at a time, so that a long stream is not
// copied whole into one buffer.
constexpr long chunkFrames = 4096;

} // namespace

OggEncoder::OggEncoder(int channels, long rate, double quality, int serial) : _channels(channels)
{
    ogg_stream_init(&_stream, serial);
    try {
        _encoder = std::make_unique<Send::VorbisEncoder>(
            rate, channels, quality, nullptr, [this](const Send::VorbisEncoder::Packet& p) { onPacket(p); });
    } catch (...) {
        ogg_stream_clear(&_stream);
        throw;
    }
    // Audio starts on a page of its own, as decoders expect.
    pageOut(true);
}

OggEncoder::~OggEncoder()
{
    _encoder.reset();
    ogg_stream_clear(&_stream);
}

void OggEncoder::write(const float* const* channels, long frames)
{
    const auto count = static_cast<size_t>(_channels);
    std::vector<float> interleaved;
    for (long done = 0; done < frames;) {
        const long n = std::min(frames - done, chunkFrames);
        interleaved.resize(static_cast<size_t>(n) * count);
        for (size_t i = 0; i < static_cast<size_t>(n); ++i)
            for (size_t ch = 0; ch < count; ++ch)
                interleaved[i * count + ch] = channels[ch][static_cast<size_t>(done) + i];
        _encoder->write(interleaved);
        done += n;
        pageOut(false);
    }
}

std::vector<unsigned char> OggEncoder::finish()
{
    _encoder->finish();
    pageOut(true);
    return std::move(_bytes);
}

void OggEncoder::onPacket(const Send::VorbisEncoder::Packet& packet)
{
    ogg_packet op{};
    op.packet = packet.data;
    op.bytes = static_cast<long>(packet.size);
    op.granulepos = packet.granule;
    op.e_o_s = packet.eos ? 1 : 0;
    ogg_stream_packetin(&_stream, &op);
}

void OggEncoder::pageOut(bool flush)
{
    ogg_page page;
    while (flush ? ogg_stream_flush(&_stream, &page) : ogg_stream_pageout(&_stream, &page)) {
        _bytes.insert(_bytes.end(), page.header, page.header + page.header_len);
        _bytes.insert(_bytes.end(), page.body, page.body + page.body_len);
    }
}

} // namespace Tools
