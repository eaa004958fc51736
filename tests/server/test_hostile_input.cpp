// locks: ports sink
// What strangers and broken senders can send to a running receiver: each
// case ends with a normal run played bit-exact by the same process.
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/receiver_fixture.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using TestHelpers::Bytes;
using TestHelpers::LoopbackSocket;
using TestHelpers::TcpClient;

namespace {

class HostileInput : public TestHelpers::ReceiverFixture {};

// Sends what next() gives from one socket to the audio port every `period`
// until destroyed.
class Sprayer {
public:
    Sprayer(const LoopbackSocket& from, std::chrono::milliseconds period, std::function<Bytes()> next)
        : _thread([&from, period, next, this] {
            while (!_stop) {
                const Bytes b = next();
                from.sendTo(TestHelpers::ReceiverFixture::audioPort, b.data(), b.size());
                std::this_thread::sleep_for(period);
            }
        })
    {
    }
    ~Sprayer()
    {
        _stop = true;
        _thread.join();
    }

private:
    std::atomic<bool> _stop{false};
    std::thread _thread;
};

// Empty and one-byte datagrams, alternately.
std::function<Bytes()> trickle()
{
    auto n = std::make_shared<int>(0);
    return [n] { return Bytes(size_t((*n)++ % 2), 0x4f); };
}

} // namespace

TEST_F(HostileInput, OnlyTheStreamsSenderIsHeard)
{
    TestHelpers::OggParams params;
    params.seconds = 5;
    TestHelpers::OggParams otherParams = params;
    otherParams.serial = 99;
    otherParams.amplitude = 0.9f;
    const auto others = TestHelpers::splitDatagrams(TestHelpers::encodeOgg(otherParams), 1024);
    const auto garbage = TestHelpers::splitDatagrams(TestHelpers::garbageBytes(200 * 1024, 5), 1024);

    const Bytes stream = TestHelpers::encodeOgg(params);
    const auto reference = TestHelpers::referenceDecode(stream);

    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    startRun(controller);
    TestHelpers::UdpStreamer streamer(audioPort, TestHelpers::splitDatagrams(stream, 1024), {});
    ASSERT_TRUE(veldrane->waitForStdout("starter dekoding", 5s));
    {
        // Another stream and garbage from two other ports while it plays.
        LoopbackSocket intruder(LoopbackSocket::Kind::Udp), sprayer(LoopbackSocket::Kind::Udp);
        auto i = std::make_shared<size_t>(0), j = std::make_shared<size_t>(0);
        Sprayer a(intruder, 20ms, [&others, i] { return others[(*i)++ % others.size()]; });
        Sprayer b(sprayer, 20ms, [&garbage, j] { return garbage[(*j)++ % garbage.size()]; });
        ASSERT_TRUE(recorder.waitForSound(reference.size() / 2 + 2 * TestHelpers::receiverBufferFrames, 20s));
    }
    recorder.stop();
    TestHelpers::expectPlayedInOrder(recorder.samples(), reference);

    controller.close();
    EXPECT_TRUE(veldrane->waitForStderr("datagrams from 2 senders other than the stream's", 5s));
    expectNormalRun();
}

TEST_F(HostileInput, ATrickleCannotHoldARunOrItsOpening)
{
    TestHelpers::OggParams params;
    params.seconds = 4;
    const auto datagrams = TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024);
    LoopbackSocket sender(LoopbackSocket::Kind::Udp);

    // While decoding: the stream's own sender sends the first half of it,
    // then only empty and one-byte datagrams, for several times the
    // output's stall limit. Each second is a read error of the starved
    // stream; the output, which the device still asks of, is never given
    // up on.
    TcpClient first;
    startRun(first);
    for (size_t k = 0; k < datagrams.size() / 2; ++k)
        sender.sendTo(audioPort, datagrams[k].data(), datagrams[k].size());
    ASSERT_TRUE(veldrane->waitForStdout("starter dekoding", 5s));
    {
        Sprayer dribble(sender, 100ms, trickle());
        EXPECT_TRUE(veldrane->waitForCount("AudioReceiver: read error", 3, 10s));
        EXPECT_EQ(veldrane->countLines("the audio output failed"), 0);
        EXPECT_EQ(veldrane->countLines("initTransmissionFailed"), 0);
        first.close();
        EXPECT_TRUE(veldrane->waitForStdout("dekoding stoppet", 1500ms));

        // While opening: the trickle is all there is, and the controller
        // leaves during the first attempt.
        TcpClient second;
        connect(second);
        ASSERT_TRUE(second.send("startTransmission"));
        expectReply(second, "udpReady 6666 ", 3s);
        second.close();
        EXPECT_TRUE(TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 1500ms));

        TcpClient third;
        connect(third);
        ASSERT_TRUE(third.send("startTransmission"));
        expectReply(third, "udpReady 6666 ", 3s);
    }
    expectNormalRun();
}

TEST_F(HostileInput, APacketThatNeverEndsLeavesMemoryBounded)
{
    TestHelpers::OggParams params;
    params.serial = 5;
    const auto pages = TestHelpers::splitPages(TestHelpers::encodeOgg(params));
    LoopbackSocket sender(LoopbackSocket::Kind::Udp);

    TcpClient controller;
    startRun(controller);
    // The stream's headers (granule 0), then pages that only ever continue
    // one packet, a large one every 5 ms for 10 s.
    uint32_t sequence = 0;
    for (const Bytes& page : pages) {
        if (std::any_of(page.begin() + 6, page.begin() + 14, [](unsigned char c) { return c != 0; }))
            break;
        sender.sendTo(audioPort, page.data(), page.size());
        ++sequence;
    }
    ASSERT_TRUE(veldrane->waitForStdout("starter dekoding", 5s));
    const long before = residentKb();
    const auto until = std::chrono::steady_clock::now() + 10s;
    long peak = before;
    while (std::chrono::steady_clock::now() < until) {
        const Bytes page = TestHelpers::endlessPacketPage(params.serial, sequence++);
        sender.sendTo(audioPort, page.data(), page.size());
        peak = std::max(peak, residentKb());
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_LT(peak - before, 16 * 1024) << "resident memory grew from " << before << " to " << peak << " KiB";
    RecordProperty("resident_growth_kib", static_cast<int>(peak - before));

    controller.close();
    ASSERT_TRUE(veldrane->waitForStdout("dekoding stoppet", 3s));
    expectNormalRun();
}
