// The decoding path without a sound server: streams from memory into a
// recording sink, where every frame's place can be checked.
#include "test_helpers/memory_net.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/played_at.h"
#include "test_helpers/recording_sink.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

using namespace TestHelpers;

namespace {

// Decodes the datagrams until they are used up.
std::vector<float> decodeAll(const std::vector<Bytes>& datagrams)
{
    auto* memory = new MemoryNet(datagrams);
    Wrappers::Net net(memory);
    RecordingSink sink;
    Wrappers::AudioDec dec;
    dec.init(&net, &sink);
    testing::internal::CaptureStdout();
    for (int calls = 0; calls < 10000; ++calls) {
        try {
            dec.decode();
        } catch (const Utils::AdReadError&) {
            if (memory->pending() == 0)
                break;
        }
    }
    testing::internal::GetCapturedStdout();
    return sink.recording();
}

} // namespace

TEST(DecoderTiming, LostPagesAreSilenceOfTheirOwnLengthAndWhatFollowsKeepsItsTime)
{
    OggParams params;
    params.seconds = 10;
    const Bytes stream = encodeOgg(params);
    const auto reference = referenceDecode(stream);
    std::vector<Bytes> pages = splitPages(stream);
    std::vector<FrameSpan> gaps;
    std::vector<Bytes> sent;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const bool lose = i == pages.size() / 3 || i == pages.size() / 2 || i == pages.size() / 2 + 1;
        if (lose && granuleOf(pages[i]) > 0) {
            const auto before = std::size_t(granuleOf(pages[i - 1]));
            if (!gaps.empty() && gaps.back().to == before)
                gaps.back().to = std::size_t(granuleOf(pages[i]));
            else
                gaps.push_back(FrameSpan{before, std::size_t(granuleOf(pages[i]))});
            continue;
        }
        sent.push_back(pages[i]);
    }
    expectLostSpansSilentAndTheRestInPlace(decodeAll(sent), 0, reference, gaps);
}
