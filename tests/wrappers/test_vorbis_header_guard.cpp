// Setup headers that would make the decoding library divide by zero.
#include "test_helpers/memory_net.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/recording_sink.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/net.h"
#include "wrappers/vorbis_header_guard.h"

#include <gtest/gtest.h>

#include <ogg/ogg.h>

#include <fstream>
#include <iterator>

using namespace TestHelpers;

namespace {

// The third packet of a stream: its setup header.
Bytes setupPacket(const Bytes& stream)
{
    ogg_sync_state sync;
    ogg_stream_state os;
    ogg_sync_init(&sync);
    std::copy(stream.begin(), stream.end(), ogg_sync_buffer(&sync, static_cast<long>(stream.size())));
    ogg_sync_wrote(&sync, static_cast<long>(stream.size()));
    ogg_page page;
    ogg_packet packet;
    Bytes setup;
    for (int packets = 0; setup.empty() && ogg_sync_pageout(&sync, &page) == 1;) {
        if (ogg_page_bos(&page))
            ogg_stream_init(&os, ogg_page_serialno(&page));
        ogg_stream_pagein(&os, &page);
        while (setup.empty() && ogg_stream_packetout(&os, &packet) == 1) {
            if (++packets == 3)
                setup.assign(packet.packet, packet.packet + packet.bytes);
        }
    }
    ogg_stream_clear(&os);
    ogg_sync_clear(&sync);
    return setup;
}

// The fuzzer's input format: each datagram a two-byte little-endian length
// and its bytes.
std::vector<Bytes> fuzzDatagrams(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const Bytes data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<Bytes> out;
    for (size_t at = 0; at + 2 <= data.size();) {
        const size_t n = std::min<size_t>(data[at] | size_t(data[at + 1]) << 8, data.size() - at - 2);
        out.emplace_back(data.begin() + long(at + 2), data.begin() + long(at + 2 + n));
        at += 2 + n;
    }
    return out;
}

} // namespace

TEST(VorbisHeaderGuard, AnEncodersCodebooksAreSoundAndOneOfNoDimensionIsNot)
{
    Bytes setup = setupPacket(encodeOgg(OggParams()));
    ASSERT_GT(setup.size(), 16u);
    EXPECT_TRUE(Wrappers::VorbisHeaderGuard::codebooksSound(setup.data(), long(setup.size())));
    // The first codebook's dimension: 16 bits after the packet's type and
    // name (7 bytes), the count of books and the book's sync (4 bytes).
    setup[11] = 0;
    setup[12] = 0;
    EXPECT_FALSE(Wrappers::VorbisHeaderGuard::codebooksSound(setup.data(), long(setup.size())));
}

TEST(VorbisHeaderGuard, AStreamWhoseCodebookCannotBeBuiltIsRefusedNotDecoded)
{
    // Found by the fuzzer: without the guard the library divides by zero.
    auto* memory = new MemoryNet(
        fuzzDatagrams(VELDRANE_SOURCE_DIR "/fuzz/corpus/decoder_stream/setup_with_unbuildable_codebook"));
    Wrappers::Net net(memory);
    RecordingSink sink;
    Wrappers::AudioDec dec;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    try {
        dec.init(&net, &sink);
        for (int calls = 0; calls < 100 && memory->pending() > 0; ++calls) {
            try {
                dec.decode();
            } catch (const Utils::AdReadError&) {
            }
        }
    } catch (const Utils::AdError&) {
    }
    testing::internal::GetCapturedStdout();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("codebook that cannot be decoded; refused"),
              std::string::npos);
}
