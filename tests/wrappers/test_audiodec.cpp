// locks: sink
#include "test_helpers/memory_net.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/audioio.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

// A run of recorded frames identical to a run of reference frames.
struct Piece {
    size_t rec;
    size_t ref;
    size_t len;
};

bool sameFrames(const std::vector<float>& a, size_t i, const std::vector<float>& b, size_t j, size_t n)
{
    return std::memcmp(&a[2 * i], &b[2 * j], 2 * n * sizeof(float)) == 0;
}

// Splits `frames` recorded frames from `from` on into pieces that each
// appear bit-identically in the reference, every piece later in the
// reference than the one before. Stretches it cannot place are skipped.
std::vector<Piece> matchPieces(const std::vector<float>& rec, size_t from, size_t frames,
                               const std::vector<float>& ref)
{
    const size_t window = 64;
    const size_t recEnd = std::min(rec.size() / 2, from + frames);
    const size_t refFrames = ref.size() / 2;
    std::vector<Piece> pieces;
    size_t i = from;
    size_t j = 0;
    while (i + window <= recEnd) {
        size_t k = j;
        while (k + window <= refFrames && !sameFrames(rec, i, ref, k, window))
            ++k;
        if (k + window > refFrames) {
            i += 16; // not in the reference (after a hole, say): skip on
            continue;
        }
        size_t len = window;
        while (i + len < recEnd && k + len < refFrames && sameFrames(rec, i + len, ref, k + len, 1))
            ++len;
        pieces.push_back({i, k, len});
        i += len;
        j = k + len;
    }
    return pieces;
}

std::string describe(const std::vector<Piece>& pieces)
{
    std::string s;
    for (const Piece& p : pieces)
        s += "[rec " + std::to_string(p.rec) + " ref " + std::to_string(p.ref) + " len " +
             std::to_string(p.len) + "] ";
    return s;
}

// Plays a scripted stream through a real output on the null sink and
// records it. decode() is called until the datagrams are used up and the
// stream reports its end; AdReadErrors before that are counted.
struct Playback {
    std::vector<float> recording;
    std::string console;
    int buffers = 0;      // decode() calls that triggered a full buffer
    int readErrors = 0;   // decode() calls that threw AdReadError
    int bufSize = 0;
    std::vector<int> requests;
};

// Where the played frames sit in the recording: `start` is the recording
// frame of the reference's first non-zero frame `lead`, `span` the number
// of played frames from there on.
struct Placement {
    size_t start = size_t(-1);
    size_t lead = 0;
    size_t span = 0;
    std::vector<Piece> pieces;
};

Placement place(const Playback& p, const std::vector<float>& ref)
{
    Placement pl;
    pl.lead = firstNonZeroFrame(ref);
    pl.start = firstNonZeroFrame(p.recording);
    size_t played = size_t(p.buffers) * size_t(p.bufSize);
    if (pl.start == size_t(-1) || pl.lead >= played)
        return pl;
    pl.span = played - pl.lead;
    pl.pieces = matchPieces(p.recording, pl.start, pl.span, ref);
    return pl;
}

Playback play(const std::vector<Bytes>& script, const std::vector<size_t>& stallsBefore = {},
              int stallsEach = 0)
{
    Playback out;
    SinkRecorder recorder;
    recorder.start();
    {
        auto* mem = new MemoryNet();
        Wrappers::Net net(mem);
        for (size_t i = 0; i < script.size(); ++i) {
            if (std::find(stallsBefore.begin(), stallsBefore.end(), i) != stallsBefore.end())
                mem->pushStall(stallsEach);
            mem->push(script[i]);
        }
        Wrappers::AudioIO aio;
        aio.init(2, 0);
        out.bufSize = aio.bufSize();
        Wrappers::AudioDec dec;
        testing::internal::CaptureStdout();
        dec.init(&net, &aio);
        // Ends when every datagram is used and the transport reports a
        // timeout for good; the bound only guards against a decoder that
        // would never stop.
        for (int guard = 0; guard < 1000; ++guard) {
            try {
                dec.decode();
                ++out.buffers;
            } catch (const Utils::AdReadError&) {
                ++out.readErrors;
                if (mem->pending() == 0)
                    break;
            }
        }
        out.console = testing::internal::GetCapturedStdout();
        out.requests = mem->requests();
        // Let the last triggered buffer reach the sink before the output
        // stops.
        recorder.waitForSound(size_t(out.buffers) * size_t(out.bufSize), 5s);
        std::this_thread::sleep_for(100ms);
    }
    recorder.stop();
    out.recording = recorder.samples();
    return out;
}

} // namespace

TEST(AudioDec, InitFailsWithoutStreamAndOnForeignData)
{
    MemoryNet* mem = nullptr;
    Wrappers::AudioIO aio; // never opened: init does not touch it
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
    Wrappers::AudioIO aio;
    Wrappers::AudioDec dec;
    Bytes ogg = encodeOgg(stereo(1.0));

    auto good = memoryNet(splitDatagrams(ogg, 1024), &mem);
    dec.init(good.get(), &aio);
    EXPECT_TRUE(dec.isInitialized());
    // The library never asks for more than the transport can give in one
    // datagram's worth of a page search.
    for (int r : mem->requests())
        EXPECT_LE(r, 2048);

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
    Wrappers::AudioIO aio;
    Wrappers::AudioDec dec;
    EXPECT_THROW(dec.init(&net, &aio), Utils::AdReadError);
    EXPECT_FALSE(dec.isInitialized());

    unsigned char buf[16];
    EXPECT_EQ(Wrappers::AudioDec::cbRead(buf, 1, sizeof buf, nullptr), size_t(-1));
    EXPECT_EQ(Wrappers::AudioDec::cbRead(buf, 1, sizeof buf, &dec), size_t(-1)); // not open
}

TEST(AudioDec, StereoStreamPlaysEveryFrameInFullBuffers)
{
    // Whole pages of about 4 KB: longer than the library's 2048-byte reads,
    // so the transport serves each page over several reads.
    Bytes ogg = encodeOgg(stereo(2.0));
    std::vector<Bytes> pages = splitPages(ogg);
    size_t largest = 0;
    for (const Bytes& p : pages)
        largest = std::max(largest, p.size());
    ASSERT_GT(largest, 2048u);

    Playback p = play(pages);
    std::vector<float> ref = referenceDecode(ogg);
    ASSERT_GT(p.buffers, 0);
    ASSERT_LE(size_t(p.buffers * p.bufSize), ref.size() / 2);
    for (int r : p.requests)
        EXPECT_LE(r, 2048);
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: EOF\n"), 1u) << p.console;
    EXPECT_EQ(countOf(p.console, "OV_HOLE"), 0u) << p.console;

    // Every triggered buffer carries exactly bufSize() new frames: the
    // recording holds the reference from its start, bit-exact, with
    // nothing repeated, skipped or stale.
    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_EQ(pl.pieces.size(), 1u) << describe(pl.pieces);
    EXPECT_EQ(pl.pieces[0].ref, pl.lead);
    EXPECT_EQ(pl.pieces[0].len, pl.span) << describe(pl.pieces);
}

TEST(AudioDec, StallGivesEofPerDecodeThenResumesSampleIdentically)
{
    Bytes ogg = encodeOgg(stereo(2.0));
    std::vector<Bytes> grams = splitDatagrams(ogg, 1024);
    ASSERT_GT(grams.size(), 8u);
    const int stalls = 3;

    Playback p = play(grams, {grams.size() / 2}, stalls);
    std::vector<float> ref = referenceDecode(ogg);

    // One EOF line and one read error per decode() that met the stall, plus
    // the final one at the real end.
    EXPECT_EQ(p.readErrors, stalls + 1);
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: EOF\n"), size_t(stalls + 1)) << p.console;
    EXPECT_EQ(countOf(p.console, "OV_HOLE"), 0u) << p.console;

    // The frames of the decode() that the stall cut short go with it;
    // everything after continues where the library stopped.
    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_GE(pl.pieces.size(), 1u);
    ASSERT_LE(pl.pieces.size(), 2u) << describe(pl.pieces);
    size_t total = 0;
    for (const Piece& pc : pl.pieces)
        total += pc.len;
    EXPECT_EQ(total, pl.span) << describe(pl.pieces);
    EXPECT_EQ(pl.pieces[0].ref, pl.lead);
    if (pl.pieces.size() == 2) {
        const Piece& a = pl.pieces[0];
        EXPECT_EQ((a.ref + a.len) % size_t(p.bufSize), 0u) << describe(pl.pieces);
        EXPECT_LT(pl.pieces[1].ref - (a.ref + a.len), size_t(p.bufSize)) << describe(pl.pieces);
    }
}

TEST(AudioDec, LostDatagramShowsAsHoleAndDecodingGoesOn)
{
    // A lost datagram takes its whole page (about 4 KB, most of a second)
    // with it; drop one late enough that a page of sound comes before.
    Bytes ogg = encodeOgg(stereo(3.0));
    std::vector<Bytes> grams = splitDatagrams(ogg, 1024);
    ASSERT_GT(grams.size(), 12u);
    grams.erase(grams.begin() + long(grams.size() * 2 / 3));

    Playback p = play(grams);
    std::vector<float> ref = referenceDecode(ogg);
    EXPECT_EQ(countOf(p.console, "vorbisDecoder: OV_HOLE\n"), 1u) << p.console;
    EXPECT_EQ(p.readErrors, 1); // the end only

    // Sound before and after the hole is the reference's; what was lost is
    // missing, in order.
    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_GE(pl.pieces.size(), 2u) << describe(pl.pieces);
    const Piece& first = pl.pieces.front();
    const Piece& last = pl.pieces.back();
    EXPECT_EQ(first.ref, pl.lead);
    EXPECT_GT(last.ref, first.ref + first.len);
    EXPECT_GT(last.len, 4096u) << describe(pl.pieces);
    EXPECT_EQ(last.rec + last.len, pl.start + pl.span) << describe(pl.pieces);
}

TEST(AudioDec, ChainedStereoStreamsPlayAcrossTheLink)
{
    Bytes a = encodeOgg(stereo(1.0, 11));
    OggParams second = stereo(1.0, 12);
    second.amplitude = 0.3f;
    Bytes chain = chainOgg({a, encodeOgg(second)});

    Playback p = play(splitDatagrams(chain, 1024));
    std::vector<long> links;
    std::vector<float> ref = referenceDecode(chain, &links);
    ASSERT_EQ(links.size(), 2u);
    ASSERT_GT(size_t(p.buffers * p.bufSize), size_t(links[0]) + 4096);

    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_EQ(pl.pieces.size(), 1u) << describe(pl.pieces);
    EXPECT_EQ(pl.pieces[0].len, pl.span);
}

TEST(AudioDec, MonoLinkPlaysSilenceNotOldFrames)
{
    // Stereo, then mono: after the stereo frames the device must get
    // silence, not the last stereo buffer again.
    Bytes a = encodeOgg(stereo(1.0, 21));
    OggParams mono = stereo(1.5, 22);
    mono.channels = 1;
    Bytes chain = chainOgg({a, encodeOgg(mono)});

    Playback p = play(splitDatagrams(chain, 1024));
    std::vector<long> links;
    std::vector<float> ref = referenceDecode(chain, &links);
    ASSERT_EQ(links.size(), 2u);
    ASSERT_GT(size_t(p.buffers * p.bufSize), size_t(links[0]) + size_t(p.bufSize));

    // The stereo link is there, bit-exact (the reference is silent over
    // the mono link)...
    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_LE(pl.start + pl.span, p.recording.size() / 2);
    const size_t stereoEnd = pl.start + size_t(links[0]) - pl.lead; // recording frame
    ASSERT_EQ(pl.pieces.size(), 1u) << describe(pl.pieces);
    EXPECT_EQ(pl.pieces[0].len, pl.span);
    // ...and everything played after it is exact zeros.
    size_t loud = firstNonZeroFrame(p.recording, stereoEnd);
    EXPECT_TRUE(loud == size_t(-1) || loud >= pl.start + pl.span)
        << "sound at recording frame " << loud << ", mono link spans " << stereoEnd << ".."
        << pl.start + pl.span;
}

TEST(AudioDec, StreamOfAnotherRatePlaysItsSamplesUnchanged)
{
    // The output runs at 44100 Hz and nothing is resampled: a 48 kHz
    // stream's samples reach the device as they are.
    OggParams params = stereo(1.5);
    params.rate = 48000;
    Bytes ogg = encodeOgg(params);

    Playback p = play(splitDatagrams(ogg, 1024));
    std::vector<float> ref = referenceDecode(ogg);
    ASSERT_GT(p.buffers, 0);

    Placement pl = place(p, ref);
    ASSERT_NE(pl.start, size_t(-1));
    ASSERT_EQ(pl.pieces.size(), 1u) << describe(pl.pieces);
    EXPECT_EQ(pl.pieces[0].len, pl.span) << describe(pl.pieces);
}
