#include "test_helpers/played_whole.h"

#include <gtest/gtest.h>

namespace TestHelpers {

std::vector<float> playedPart(std::vector<float> reference, std::size_t bufferFrames)
{
    reference.resize(reference.size() / 2 / bufferFrames * bufferFrames * 2);
    return reference;
}

void expectPlayedWhole(const std::vector<float>& recording, const std::vector<float>& reference,
                       const CompareOptions& options)
{
    const Comparison result = compareWithReference(recording, reference, options);
    EXPECT_TRUE(result.found) << result.describe();
    EXPECT_TRUE(result.contiguous) << result.describe();
    EXPECT_GE(result.snrDb, 90.0) << result.describe();
}

} // namespace TestHelpers
