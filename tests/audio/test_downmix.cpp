#include "audio/downmix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

using Audio::Downmix;

namespace {

constexpr int frames = 4;

// Left and right of one frame.
using Sides = std::pair<float, float>;

// Both sides when the channels listed carry `level` and the rest silence.
Sides mixOf(int channels, const std::vector<int>& loud, float level = 1.0f)
{
    std::vector<std::vector<float>> in(static_cast<size_t>(channels), std::vector<float>(frames, 0.0f));
    for (int ch : loud)
        in[static_cast<size_t>(ch)].assign(frames, level);
    std::vector<const float*> pointers;
    for (const auto& channel : in)
        pointers.push_back(channel.data());
    std::vector<float> left(frames, 9.0f), right(frames, 9.0f);
    Downmix(channels).mix(pointers.data(), frames, left.data(), right.data());
    return {left[frames - 1], right[frames - 1]};
}

std::vector<int> all(int channels)
{
    std::vector<int> v;
    for (int ch = 0; ch < channels; ++ch)
        v.push_back(ch);
    return v;
}

} // namespace

TEST(Downmix, ChannelsFollowTheVorbisOrder)
{
    // Front left and right on their own side only, in every layout.
    const int rightAt[] = {0, 0, 0, 2, 1, 2, 2, 2, 2};
    for (int channels = 3; channels <= Downmix::maxChannels; ++channels) {
        const Sides l = mixOf(channels, {0});
        const Sides r = mixOf(channels, {rightAt[channels]});
        EXPECT_GT(l.first, 0.0f) << channels;
        EXPECT_EQ(l.second, 0.0f) << channels;
        EXPECT_EQ(r.first, 0.0f) << channels;
        EXPECT_FLOAT_EQ(r.second, l.first) << channels;
    }
    // The centre (second channel of 3, 5 to 8) on both sides at -3 dB.
    for (int channels : {3, 5, 6, 7, 8}) {
        const Sides front = mixOf(channels, {0});
        const Sides centre = mixOf(channels, {1});
        EXPECT_FLOAT_EQ(centre.first, centre.second) << channels;
        EXPECT_NEAR(centre.first / front.first, std::sqrt(0.5f), 1e-5) << channels;
    }
    // Surrounds on their own side at -3 dB: 4 channels FL FR RL RR, 5 and
    // more FL C FR SL SR.
    const Sides rearLeft4 = mixOf(4, {2});
    EXPECT_EQ(rearLeft4.second, 0.0f);
    EXPECT_NEAR(rearLeft4.first / mixOf(4, {0}).first, std::sqrt(0.5f), 1e-5);
    const Sides surroundRight6 = mixOf(6, {4});
    EXPECT_EQ(surroundRight6.first, 0.0f);
    EXPECT_NEAR(surroundRight6.second / mixOf(6, {2}).second, std::sqrt(0.5f), 1e-5);
    // 7 channels: the rear centre on both sides at -6 dB.
    const Sides rearCentre = mixOf(7, {5});
    EXPECT_FLOAT_EQ(rearCentre.first, rearCentre.second);
    EXPECT_NEAR(rearCentre.first / mixOf(7, {0}).first, 0.5f, 1e-5);
}

TEST(Downmix, FullScaleOnEveryChannelIsFullScaleOnEachSide)
{
    for (int channels = 3; channels <= Downmix::maxChannels; ++channels) {
        const Sides s = mixOf(channels, all(channels));
        EXPECT_NEAR(s.first, 1.0f, 1e-6) << channels;
        EXPECT_NEAR(s.second, 1.0f, 1e-6) << channels;
        const Sides negative = mixOf(channels, all(channels), -1.0f);
        EXPECT_GE(negative.first, -1.0f - 1e-6) << channels;
        EXPECT_GE(negative.second, -1.0f - 1e-6) << channels;
    }
}

TEST(Downmix, TheLowFrequencyChannelIsLeftOut)
{
    // Last of 6, 7 and 8 channels.
    for (int channels : {6, 7, 8}) {
        const Sides s = mixOf(channels, {channels - 1});
        EXPECT_EQ(s.first, 0.0f) << channels;
        EXPECT_EQ(s.second, 0.0f) << channels;
    }
}

TEST(Downmix, MoreThanEightChannelsPlayTheirFirstTwo)
{
    const Sides first = mixOf(10, {0});
    const Sides second = mixOf(10, {1});
    EXPECT_EQ(first.first, 1.0f);
    EXPECT_EQ(first.second, 0.0f);
    EXPECT_EQ(second.first, 0.0f);
    EXPECT_EQ(second.second, 1.0f);
    const Sides others = mixOf(10, {2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(others.first, 0.0f);
    EXPECT_EQ(others.second, 0.0f);
}

TEST(Downmix, MonoOnBothSidesStereoUntouched)
{
    const Sides mono = mixOf(1, {0}, 0.25f);
    EXPECT_EQ(mono.first, 0.25f);
    EXPECT_EQ(mono.second, 0.25f);
    EXPECT_EQ(mixOf(2, {0}, 0.25f).first, 0.25f);
    EXPECT_EQ(mixOf(2, {0}, 0.25f).second, 0.0f);
    EXPECT_EQ(mixOf(2, {1}, 0.25f).second, 0.25f);
    EXPECT_EQ(mixOf(2, {1}, 0.25f).first, 0.0f);
}
