#include "test_helpers/played_at.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace TestHelpers {

namespace {

std::size_t framesOf(const std::vector<float>& interleaved)
{
    return interleaved.size() / 2;
}

bool sameFrames(const float* a, const float* b, std::size_t frames)
{
    return std::equal(a, a + 2 * frames, b);
}

} // namespace

std::size_t findExact(const std::vector<float>& recording, const std::vector<float>& reference,
                      std::size_t at, std::size_t count)
{
    if (at + count > framesOf(reference) || count > framesOf(recording))
        return notFound;
    const float* want = reference.data() + 2 * at;
    for (std::size_t f = 0; f + count <= framesOf(recording); ++f) {
        const float* here = recording.data() + 2 * f;
        if (here[0] == want[0] && here[1] == want[1] && sameFrames(here, want, count))
            return f;
    }
    return notFound;
}

std::size_t differingFrames(const std::vector<float>& recording, std::size_t offset,
                            const std::vector<float>& reference, std::size_t from, std::size_t to)
{
    std::size_t differ = 0;
    for (std::size_t i = from; i < std::min(to, framesOf(reference)); ++i) {
        const std::size_t r = offset + i;
        if (r >= framesOf(recording) || !sameFrames(recording.data() + 2 * r, reference.data() + 2 * i, 1))
            ++differ;
    }
    return differ;
}

std::size_t soundingFrames(const std::vector<float>& recording, std::size_t from, std::size_t to)
{
    std::size_t sounding = 0;
    for (std::size_t f = from; f < std::min(to, framesOf(recording)); ++f)
        sounding += recording[2 * f] != 0.0f || recording[2 * f + 1] != 0.0f ? 1 : 0;
    return sounding;
}

void expectLostSpansSilentAndTheRestInPlace(const std::vector<float>& recording, std::size_t offset,
                                            const std::vector<float>& reference,
                                            const std::vector<FrameSpan>& lost)
{
    constexpr std::size_t before = 300, after = 2048 + 300;
    std::size_t heard = 0;
    for (const FrameSpan& gap : lost) {
        EXPECT_EQ(differingFrames(recording, offset, reference, heard, gap.from - before), 0u)
            << "before the gap at frame " << gap.from;
        EXPECT_EQ(soundingFrames(recording, offset + gap.from + before, offset + gap.to - after), 0u)
            << "the gap at frame " << gap.from;
        heard = gap.to + after;
    }
    EXPECT_EQ(differingFrames(recording, offset, reference, heard, framesOf(reference)), 0u)
        << "after the gaps";
}

} // namespace TestHelpers
