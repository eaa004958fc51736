// locks: sink
#include "wrappers/audio_library.h"
#include "wrappers/audioio.h"

#include "utils/errors.h"

#include <RtAudio.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using Wrappers::AudioIO;
using Wrappers::AudioLibrary;

TEST(AudioLibrary, LendsTheObjectGivenBackAndANewOneWhileItIsOut)
{
    AudioLibrary library;
    std::unique_ptr<RtAudio> first = library.lend();
    ASSERT_NE(first, nullptr);
    RtAudio* const lent = first.get();
    const std::unique_ptr<RtAudio> second = library.lend();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second.get(), lent);
    library.giveBack(std::move(first));
    EXPECT_EQ(library.lend().get(), lent);
}

TEST(AudioLibrary, OutputsOneAfterAnotherBorrowTheSameObject)
{
    AudioLibrary library;
    std::unique_ptr<RtAudio> audio = library.lend();
    RtAudio* const lent = audio.get();
    library.giveBack(std::move(audio));

    for (int run = 0; run < 2; ++run) {
        AudioIO aio(library);
        aio.init(2, 0);
        std::vector<float> silence(static_cast<size_t>(aio.bufSize()), 0.0f);
        float* channels[2] = {silence.data(), silence.data()};
        aio.write(channels, 0, aio.bufSize());
        aio.trigger();
    }
    EXPECT_THROW(
        {
            AudioIO aio(library);
            aio.init(1, 0);
        },
        Utils::AudioInitError);
    EXPECT_EQ(library.lend().get(), lent);
}
