// What senders that are not ours, and networks that are not clean, leave
// of a stream. For each condition one run plays a music-like stream (pages
// of about 0.3 s) in 1024-byte datagrams cut anywhere, and the recording of
// the null sink is set against the stream's reference decode:
//   - heard: the share of the stream's 10 ms stretches found bit-exact in
//     the recording (anywhere: what plays late or early still counts);
//   - the receiver's own end-of-run line: gaps, their silence by cause,
//     pages lost, repairs, the speed's range;
//   - the longest silence after the first sound, and the UNDERRUN lines.
// The first condition, a live encoder with no lead, also measures the
// receiver's whole-run CPU per second of audio beside a GStreamer pipeline
// fed the same datagrams on port 6667 in the same run, its sink playing
// them as they come.
//
// Usage: bench_senders [seconds=30]
// Needs the test sound server, GStreamer (scripts/deps.sh bench) and ports
// 8888/6666: unshare -n sh -c 'ip link set lo up; scripts/bench.sh senders'
#include "support/gstreamer_peer.h"
#include "support/heard_share.h"
#include "support/recorded_run.h"
#include "test_helpers/child_process.h"
#include "test_helpers/markers.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/process_cpu.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using TestHelpers::Bytes;
using TestHelpers::UdpStreamer;

namespace {

constexpr std::size_t rate = 44100;

struct Condition {
    const char* name;
    UdpStreamer::Options options;
    std::size_t datagramBytes = 1024;
    bool restart = false; // a new stream follows the first one's middle, with no end-of-stream page
};

struct Outcome {
    bool ok = false;
    double heard = 0;
    std::string endOfRun;
    std::size_t longestSilence = 0;
    int underruns = 0;
    double cpu = 0, gstCpu = 0; // ms per second of audio
};

// The first stream up to `seconds`, then the second, and what they decode to.
Bytes restarted(const Bytes& one, const Bytes& two, double seconds, std::vector<float>& reference)
{
    std::size_t frames = 0;
    Bytes stream = TestHelpers::cutOff(one, seconds, rate, frames);
    stream.insert(stream.end(), two.begin(), two.end());
    reference = TestHelpers::referenceDecode(one);
    reference.resize(2 * frames);
    const auto second = TestHelpers::referenceDecode(two);
    reference.insert(reference.end(), second.begin(), second.end());
    return stream;
}

std::string endOfRun(const TestHelpers::ChildProcess& veldrane)
{
    for (const std::string& line : veldrane.lines(TestHelpers::ChildProcess::Stream::Err))
        if (line.find("AudioReceiver: played") != std::string::npos)
            return line.substr(std::strlen("AudioReceiver: "));
    return "(no end-of-run line)";
}

Outcome play(const Condition& c, const Bytes& stream, const std::vector<float>& reference, bool withGst)
{
    Outcome out;
    TestHelpers::ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    TestHelpers::SinkRecorder recorder;
    TestHelpers::TcpClient controller;
    if (!Bench::startRecordedRun(veldrane, recorder, controller))
        return out;
    std::unique_ptr<Bench::SecondSink> sink;
    std::unique_ptr<Bench::GStreamerPeer> gst;
    if (withGst) {
        sink = std::make_unique<Bench::SecondSink>();
        // The live encoder sends with no lead: a synchronised sink would
        // drop its audio as late and cost less for playing less.
        gst = std::make_unique<Bench::GStreamerPeer>(false);
        if (!sink->loaded() || !gst->listening())
            return out;
    }
    const auto datagrams = TestHelpers::splitDatagrams(stream, c.datagramBytes);
    const double cpu0 = TestHelpers::processCpuSeconds(veldrane.pid());
    const double gst0 = gst ? TestHelpers::processCpuSeconds(gst->pid()) : 0;
    {
        UdpStreamer toVeldrane(6666, datagrams, c.options);
        std::unique_ptr<UdpStreamer> toGst;
        if (gst)
            toGst = std::make_unique<UdpStreamer>(Bench::GStreamerPeer::port, datagrams, c.options);
        toVeldrane.waitDone(200s);
        if (toGst)
            toGst->waitDone(10s);
    }
    recorder.waitForSound(reference.size() / 2 + 2 * rate, 30s);
    const double seconds = double(reference.size() / 2) / rate;
    out.cpu = (TestHelpers::processCpuSeconds(veldrane.pid()) - cpu0) * 1000 / seconds;
    if (gst)
        out.gstCpu = (TestHelpers::processCpuSeconds(gst->pid()) - gst0) * 1000 / seconds;
    recorder.stop();
    controller.close();
    veldrane.waitForStderr("AudioReceiver: played", 5s);
    const auto recording = recorder.samples();
    out.heard = Bench::heardShare(recording, reference);
    out.endOfRun = endOfRun(veldrane);
    const std::size_t first = TestHelpers::firstNonZeroFrame(recording);
    const std::size_t last = first + reference.size() / 2;
    out.longestSilence = first == std::size_t(-1) ? 0 : TestHelpers::longestSilence(recording, first, last);
    out.underruns = veldrane.countLines("UNDERRUN");
    out.ok = true;
    return out;
}

std::vector<Condition> conditions()
{
    std::vector<Condition> all;
    UdpStreamer::Options o;
    o.atEnd = true;
    all.push_back({"live encoder, no lead", o});
    const auto lead = [](auto change) {
        UdpStreamer::Options options; // each page at its start, 0.5 s ahead
        change(options);
        return options;
    };
    all.push_back({"1 % lost", lead([](auto& x) { x.loss = 0.01; })});
    all.push_back({"5 % lost", lead([](auto& x) { x.loss = 0.05; })});
    all.push_back({"5 % swapped with the next", lead([](auto& x) { x.swap = 0.05; })});
    all.push_back({"5 % duplicated", lead([](auto& x) { x.duplicate = 0.05; })});
    all.push_back({"holds 2 s, then sends it", lead([](auto& x) {
                       x.holdAt = 10;
                       x.holdSeconds = 2;
                   })});
    all.push_back({"2 s of datagrams dropped", lead([](auto& x) {
                       x.dropAt = 10;
                       x.dropSeconds = 2;
                   })});
    all.push_back({"4096-byte datagrams", lead([](auto&) {}), 4096});
    all.push_back({"audio 1.5 s after headers", lead([](auto& x) { x.audioLater = 1.5; })});
    Condition restart{"encoder restarts, no EOS", lead([](auto&) {})};
    restart.restart = true;
    all.push_back(restart);
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
    const TestHelpers::OggParams params = TestHelpers::musicLike(seconds);
    const Bytes stream = TestHelpers::encodeOgg(params);
    const auto reference = TestHelpers::referenceDecode(stream);
    TestHelpers::OggParams second = params;
    second.serial = 2;
    second.amplitude = 0.3f;
    second.seconds = seconds / 2;
    std::vector<float> restartedReference;
    const Bytes restartedStream =
        restarted(stream, TestHelpers::encodeOgg(second), seconds / 2, restartedReference);

    std::printf("%.0f s music-like stream (%zu bytes); heard = share of 10 ms stretches bit-exact\n", seconds,
                stream.size());
    bool first = true;
    for (const Condition& c : conditions()) {
        const Outcome o = c.restart ? play(c, restartedStream, restartedReference, false)
                                    : play(c, stream, reference, first);
        if (!o.ok) {
            std::printf("%-28s run failed\n", c.name);
            continue;
        }
        std::printf("%-28s heard %.3f, longest silence %5.0f ms, %2d UNDERRUN | %s\n", c.name, o.heard,
                    double(o.longestSilence) * 1000 / rate, o.underruns, o.endOfRun.c_str());
        if (first)
            std::printf("%-28s CPU %.2f ms per s of audio, GStreamer beside it %.2f ms (%.2fx)\n", "", o.cpu,
                        o.gstCpu, o.gstCpu > 0 ? o.cpu / o.gstCpu : 0.0);
        first = false;
    }
    return 0;
}
