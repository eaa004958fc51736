#include "test_helpers/memory_net.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/recording_sink.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace TestHelpers;
using namespace std::chrono_literals;

namespace {

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

// A Net serving the given datagrams from memory; mem points at its
// transport, which the Net owns.
std::unique_ptr<Wrappers::Net> memoryNet(const std::vector<Bytes>& datagrams, MemoryNet** mem)
{
    auto* m = new MemoryNet(datagrams);
    *mem = m;
    return std::make_unique<Wrappers::Net>(m);
}

OggParams stereo(double seconds, int serial = 1)
{
    OggParams s;
    s.seconds = seconds;
    s.serial = serial;
    return s;
}

// Decodes a scripted stream into a recording sink. decode() is called
// until the datagrams are used up and the stream reports its end; the
// device then plays a buffer's length of silence.
struct Playback {
    std::vector<float> recording;
    std::string console;
    int readErrors = 0; // decode() calls that threw AdReadError
};

Playback play(const std::vector<Bytes>& script, const std::vector<size_t>& stallsBefore = {},
              int stallsEach = 0)
{
    Playback out;
    RecordingSink aio;
    {
        auto* mem = new MemoryNet();
        Wrappers::Net net(mem);
        for (size_t i = 0; i < script.size(); ++i) {
            if (std::find(stallsBefore.begin(), stallsBefore.end(), i) != stallsBefore.end())
                mem->pushStall(stallsEach);
            mem->push(script[i]);
        }
        Wrappers::AudioDec dec;
        testing::internal::CaptureStdout();
        dec.init(&net, &aio);
        // The bound only guards against a decoder that would never stop.
        for (int guard = 0; guard < 1000; ++guard) {
            try {
                dec.decode();
            } catch (const Utils::AdReadError&) {
                ++out.readErrors;
                if (mem->pending() == 0)
                    break;
            }
        }
        out.console = testing::internal::GetCapturedStdout();
    }
    aio.starve(int(receiverBufferFrames));
    out.recording = aio.recording();
    return out;
}

// Frequency of one channel over recording frames [from, to), from the
// first and last rising zero crossings, placed between samples.
double frequencyOf(const std::vector<float>& rec, int channel, size_t from, size_t to)
{
    double first = -1, last = -1;
    long crossings = 0;
    for (size_t i = from + 1; i < to && 2 * i + 1 < rec.size(); ++i) {
        const float a = rec[2 * (i - 1) + channel], b = rec[2 * i + channel];
        if (a < 0 && b >= 0) {
            const double at = double(i - 1) + double(a) / double(a - b);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : 44100.0 * double(crossings - 1) / (last - first);
}

// The longest run of silent frames between the first and the last sound.
size_t longestGap(const std::vector<float>& rec)
{
    const std::vector<float> sound(rec.begin() + long(2 * firstNonZeroFrame(rec)), rec.end());
    size_t longest = 0, run = 0;
    for (size_t i = 0; 2 * i + 1 < sound.size(); ++i) {
        if (sound[2 * i] == 0 && sound[2 * i + 1] == 0) {
            ++run;
        } else {
            longest = std::max(longest, run);
            run = 0;
        }
    }
    return longest;
}

OggParams sine(long rate, double seconds, int serial = 1)
{
    OggParams s = stereo(seconds, serial);
    s.rate = rate;
    s.sweep = false;
    return s;
}

} // namespace

TEST(AudioDec, InitFailsWithoutStreamAndOnForeignData)
{
    MemoryNet* mem = nullptr;
    RecordingSink aio;
    Wrappers::AudioDec dec;
    EXPECT_FALSE(dec.isInitialized());

    // Nothing arrives: a read error.
    auto silent = memoryNet({}, &mem);
    EXPECT_THROW(dec.init(silent.get(), &aio), Utils::AdReadError);
    EXPECT_FALSE(dec.isInitialized());

    // A stall inside the header pages is a read error too.
    Bytes ogg = encodeOgg(stereo(1.0));
    auto stalled = memoryNet(splitDatagrams(Bytes(ogg.begin(), ogg.begin() + 1024), 1024), &mem);
    EXPECT_THROW(dec.init(stalled.get(), &aio), Utils::AdReadError);

    // Bytes that are not Ogg: a data error once the library has searched
    // past its page-search limit.
    auto garbage = memoryNet(splitDatagrams(garbageBytes(80 * 1024, 7), 1024), &mem);
    EXPECT_THROW(dec.init(garbage.get(), &aio), Utils::AdDataError);
    EXPECT_FALSE(dec.isInitialized());

    // Joining a stream in the middle (no first page): a data error.
    std::vector<Bytes> pages = splitPages(ogg);
    ASSERT_GE(pages.size(), 3u);
    auto middle = memoryNet(std::vector<Bytes>(pages.begin() + 2, pages.end()), &mem);
    EXPECT_THROW(dec.init(middle.get(), &aio), Utils::AdDataError);
    EXPECT_FALSE(dec.isInitialized());
}

TEST(AudioDec, FailedInitAfterSuccessLeavesDecoderClosed)
{
    MemoryNet* mem = nullptr;
    RecordingSink aio;
    Wrappers::AudioDec dec;
    Bytes ogg = encodeOgg(stereo(1.0));

    auto good = memoryNet(splitDatagrams(ogg, 1024), &mem);
    dec.init(good.get(), &aio);
    EXPECT_TRUE(dec.isInitialized());

    auto bad = memoryNet({}, &mem);
    EXPECT_THROW(dec.init(bad.get(), &aio), Utils::AdReadError);
    EXPECT_FALSE(dec.isInitialized());
    // A decoder that is not open refuses to decode instead of using
    // released state.
    testing::internal::CaptureStdout();
    EXPECT_THROW(dec.decode(), Utils::AdReadError);
    testing::internal::GetCapturedStdout();

    auto again = memoryNet(splitDatagrams(ogg, 1024), &mem);
    dec.init(again.get(), &aio);
    EXPECT_TRUE(dec.isInitialized());
    dec.close();
    EXPECT_FALSE(dec.isInitialized());
    testing::internal::CaptureStdout();
    EXPECT_THROW(dec.decode(), Utils::AdReadError);
    testing::internal::GetCapturedStdout();
}

namespace {

// A transport whose reads fail with something that is not a NetError.
class ThrowingNet : public Wrappers::NetImplementation {
public:
    void setupListen(int) override {}
    void setupSend(std::string, int) override {}
    int sendData(const char*, int len) override { return len; }
    int receive(void*, int, int, int) override { throw std::runtime_error("transport broke"); }
    Wrappers::NetImplementation* accept(const std::function<bool()>&) override { return nullptr; }
};

} // namespace

TEST(AudioDec, NoExceptionLeavesTheReadCallback)
{
    // Any failure of the transport reaches the library as its read error,
    // so opening fails cleanly instead of unwinding through C frames.
    Wrappers::Net net(new ThrowingNet());
    RecordingSink aio;
    Wrappers::AudioDec dec;
    EXPECT_THROW(dec.init(&net, &aio), Utils::AdReadError);
    EXPECT_FALSE(dec.isInitialized());

    unsigned char buf[16];
    EXPECT_EQ(Wrappers::AudioDec::cbRead(buf, 1, sizeof buf, nullptr), size_t(-1));
    EXPECT_EQ(Wrappers::AudioDec::cbRead(buf, 1, sizeof buf, &dec), size_t(-1)); // not open
}

TEST(AudioDec, EveryFramePlaysOnceInOrderThenSilence)
{
    // Whole pages of about 4 KB, served over several library reads; the
    // stream does not end on a buffer boundary, so its last frames sit in
    // a part-filled buffer.
    Bytes ogg = encodeOgg(stereo(2.0));
    std::vector<float> ref = referenceDecode(ogg);
    ASSERT_NE(ref.size() / 2 % receiverBufferFrames, 0u);

    Playback p = play(splitPages(ogg));
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: EOF\n"), 1u) << p.console;
    EXPECT_EQ(countOf(p.console, "OV_HOLE"), 0u) << p.console;
    expectPlayedWhole(p.recording, ref);
}

TEST(AudioDec, AStallPlaysWhatWasDecodedAndLosesNothing)
{
    Bytes ogg = encodeOgg(stereo(2.0));
    std::vector<Bytes> grams = splitDatagrams(ogg, 1024);
    const int stalls = 3;
    std::vector<float> ref = referenceDecode(ogg);

    Playback p = play(grams, {grams.size() / 2}, stalls);
    // One EOF line and one read error per decode() that met the stall, plus
    // the final one at the real end.
    EXPECT_EQ(p.readErrors, stalls + 1);
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: EOF\n"), size_t(stalls + 1)) << p.console;
    // The frames decoded before the stall were played with silence after
    // them, and decoding went on where it stopped: every frame once, in
    // order, nothing repeated.
    expectPlayedInOrder(p.recording, ref);
}

TEST(AudioDec, LostDatagramShowsAsHoleAndDecodingGoesOn)
{
    // A lost datagram takes its whole page (about 4 KB, most of a second)
    // with it; drop one late enough that a page of sound comes before.
    Bytes ogg = encodeOgg(stereo(3.0));
    std::vector<Bytes> grams = splitDatagrams(ogg, 1024);
    ASSERT_GT(grams.size(), 12u);
    grams.erase(grams.begin() + long(grams.size() * 2 / 3));

    std::vector<float> ref = referenceDecode(ogg);
    Playback p = play(grams);
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: OV_HOLE\n"), 1u) << p.console;
    EXPECT_EQ(p.readErrors, 1); // the end only

    // Sound before the hole is the reference's from its start, and sound
    // near the end is the reference's last part. (After a hole the library
    // cannot trim the last block exactly, so the very end may differ.)
    const std::vector<float> heard = withoutSilence(p.recording);
    const std::vector<float> whole = withoutSilence(ref);
    const long edge = 2 * 4096;
    ASSERT_GT(heard.size(), size_t(4 * edge));
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + edge, whole.begin()));
    const auto late = std::search(whole.begin(), whole.end(), heard.end() - 3 * edge, heard.end() - edge);
    ASSERT_NE(late, whole.end());
    EXPECT_GT(late - whole.begin(), long(whole.size() * 2 / 3));
    EXPECT_LT(heard.size(), ref.size());
}

TEST(AudioDec, MonoAndChainedLinksPlayWhole)
{
    // Stereo, then mono on both sides, then stereo again.
    OggParams mono = stereo(1.5, 22);
    mono.channels = 1;
    OggParams quieter = stereo(1.0, 23);
    quieter.amplitude = 0.3f;
    Bytes chain = chainOgg({encodeOgg(stereo(1.0, 21)), encodeOgg(mono), encodeOgg(quieter)});
    std::vector<float> ref = referenceDecode(chain);

    Playback p = play(splitDatagrams(chain, 1024));
    expectPlayedWhole(p.recording, ref);
}

TEST(AudioDec, OtherRatesPlayAtTheirPitch)
{
    for (long rate : {48000L, 22050L}) {
        SCOPED_TRACE(rate);
        const double seconds = 2.0;
        Bytes ogg = encodeOgg(sine(rate, seconds));
        Playback p = play(splitDatagrams(ogg, 1024));
        const size_t start = firstNonZeroFrame(p.recording);
        ASSERT_NE(start, size_t(-1));
        const size_t from = start + 4410, to = start + size_t((seconds - 0.1) * 44100);
        EXPECT_NEAR(frequencyOf(p.recording, 0, from, to), 440.0, 0.44);
        EXPECT_NEAR(frequencyOf(p.recording, 1, from, to), 660.0, 0.66);
        // Nothing was lost at the end: the sound lasts as long as the stream.
        const size_t heard = withoutSilence(p.recording).size() / 2;
        EXPECT_NEAR(double(heard), seconds * 44100, 2048.0);
    }
}

TEST(AudioDec, ChainOfRatesPlaysEachLinkAtItsPitchWithoutGap)
{
    const long rates[] = {44100, 48000, 44100};
    std::vector<Bytes> links;
    for (int i = 0; i < 3; ++i)
        links.push_back(encodeOgg(sine(rates[i], 1.0, 31 + i)));
    Playback p = play(splitDatagrams(chainOgg(links), 1024));

    const size_t start = firstNonZeroFrame(p.recording);
    ASSERT_NE(start, size_t(-1));
    for (size_t link = 0; link < 3; ++link) {
        SCOPED_TRACE(link);
        const size_t from = start + link * 44100 + 4410, to = start + (link + 1) * 44100 - 4410;
        EXPECT_NEAR(frequencyOf(p.recording, 0, from, to), 440.0, 0.44);
    }
    EXPECT_LT(longestGap(p.recording), 2048u);
}

TEST(AudioDec, SixChannelsFoldToStereoWithoutClipping)
{
    // Every channel near full scale: added up without care, the sides would
    // reach well past 1.
    OggParams six = sine(44100, 1.0);
    six.channels = 6;
    six.amplitude = 0.9f;
    Playback p = play(splitDatagrams(encodeOgg(six), 1024));
    float peak = 0;
    for (float x : p.recording)
        peak = std::max(peak, std::abs(x));
    EXPECT_GT(peak, 0.3f);
    EXPECT_LE(peak, 1.0f);
}

TEST(AudioDec, ASocketThatFailsEndsDecodingWithTheNetworksErrorInsteadOfSpinning)
{
    // Past a failure of the socket no read can succeed: decoding must say
    // so, not report read errors at once, again and again.
    Bytes ogg = encodeOgg(stereo(2.0));
    std::vector<Bytes> grams = splitDatagrams(ogg, 1024);
    grams.resize(grams.size() / 2);
    auto* mem = new MemoryNet(grams);
    mem->failWhenEmpty();
    Wrappers::Net net(mem);
    RecordingSink aio;
    Wrappers::AudioDec dec;
    dec.init(&net, &aio);

    testing::internal::CaptureStdout();
    int readErrors = 0;
    bool failed = false;
    for (int calls = 0; calls < 100 && !failed; ++calls) {
        try {
            dec.decode();
        } catch (const Utils::AdReadError&) {
            ++readErrors;
        } catch (const Utils::NetError&) {
            failed = true;
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(failed);
    EXPECT_EQ(readErrors, 0);
}
