#include "audio/rate_conversion.h"
#include "test_helpers/fake_converter.h"
#include "test_helpers/recording_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using TestHelpers::FakeConverter;
using TestHelpers::RecordingSink;

namespace {

// Frames of a link, converted into the sink from frame 0: the frames written.
int playSome(Audio::RateConversion& conversion, RecordingSink& sink)
{
    std::vector<float> left(100, 0.5f), right(100, -0.5f);
    float* in[2] = {left.data(), right.data()};
    int used = 0;
    return conversion.convert(in, 100, used, sink, 0, sink.bufSize());
}

} // namespace

TEST(RateConversion, ARateTheConverterRefusesDropsItsFramesOnceReportedAndTheStreamPlaysOn)
{
    // A converter that cannot start (the library out of memory) must not
    // end decoding: the link it was for goes unheard, the next one plays,
    // and a refused variable converter leaves the run at a fixed one.
    FakeConverter converter;
    converter.refuseRate(22050);
    converter.refuseVariable();
    Audio::RateConversion conversion(converter);
    RecordingSink sink(1024);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(conversion.use(22050));
    EXPECT_FALSE(conversion.use(22050));
    EXPECT_EQ(playSome(conversion, sink), 0);
    EXPECT_TRUE(conversion.use(48000));
    EXPECT_EQ(playSome(conversion, sink), 100);
    conversion.follow(1.001, sink.bufSize());
    while (conversion.flushing())
        conversion.flush(sink, 0, sink.bufSize(), 1.001);
    EXPECT_EQ(playSome(conversion, sink), 100);
    EXPECT_FALSE(converter.variable());
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "vorbisDecoder: cannot play a sample rate of 22050 Hz\n");
}
