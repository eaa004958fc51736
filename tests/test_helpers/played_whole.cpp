#include "test_helpers/played_whole.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace TestHelpers {

void expectPlayedWhole(const std::vector<float>& recording, const std::vector<float>& reference,
                       const CompareOptions& options)
{
    const Comparison result = compareWithReference(recording, reference, options);
    EXPECT_TRUE(result.found) << result.describe();
    EXPECT_TRUE(result.contiguous) << result.describe();
    EXPECT_GE(result.snrDb, 90.0) << result.describe();
    const std::size_t end = result.offset + result.referenceFrames;
    const std::size_t loud = firstNonZeroFrame(recording, end);
    EXPECT_EQ(loud, static_cast<std::size_t>(-1))
        << "sound at recording frame " << loud << ", " << loud - end << " frames after the stream's last";
}

void expectPlayedInOrder(const std::vector<float>& recording, const std::vector<float>& reference)
{
    const std::vector<float> heard = withoutSilence(recording);
    const std::vector<float> whole = withoutSilence(reference);
    const auto diff = std::mismatch(heard.begin(), heard.end(), whole.begin(), whole.end());
    EXPECT_TRUE(diff.first == heard.end() && diff.second == whole.end())
        << "heard " << heard.size() / 2 << " sounding frames of " << whole.size() / 2
        << "; the first that differs is sounding frame " << (diff.first - heard.begin()) / 2;
}

std::vector<float> withoutSilence(const std::vector<float>& interleaved)
{
    std::vector<float> out;
    out.reserve(interleaved.size());
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        if (interleaved[i] != 0.0f || interleaved[i + 1] != 0.0f) {
            out.push_back(interleaved[i]);
            out.push_back(interleaved[i + 1]);
        }
    }
    return out;
}

Silences silencesWithin(const std::vector<float>& interleaved, std::size_t shortest)
{
    Silences out;
    std::size_t run = 0;
    bool sounded = false;
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        if (interleaved[i] == 0.0f && interleaved[i + 1] == 0.0f) {
            ++run;
            continue;
        }
        if (sounded && run >= shortest) {
            ++out.count;
            out.frames += run;
        }
        sounded = true;
        run = 0;
    }
    return out;
}

} // namespace TestHelpers
