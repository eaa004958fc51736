// Figures of veldrane-send with what is not an Ogg Vorbis file, with live
// sound, and over a network that loses datagrams, each beside a baseline
// measured in this same run:
//   (a) the sender's CPU per second of audio for a music-like MP3 (tones
//       and noise) sent to a real receiver in real time, beside ffmpeg
//       converting the same file to Ogg Vorbis at the sender's default
//       quality; one pair per round;
//   (b) from a click played into the sender's --sink device to the click
//       on the receiver's null sink, both monitors recorded at once: each
//       of ten clicks, and their median;
//   (c) a music-like Ogg Vorbis stream through a relay that drops 1 % and
//       5 % of the datagrams at random: the share heard bit-exact and the
//       longest silence, for veldrane-send beside the same file cut into
//       1024-byte datagrams anywhere and sent 1 s ahead (as the sender did
//       before each datagram held whole pages), through the same relay
//       with the same seed.
// Usage: bench_send_formats [seconds=30]
// Needs the test sound server, ffmpeg and ports 8888/6666:
//   unshare -n sh -c 'ip link set lo up; scripts/bench.sh send_formats'
#include "support/dropping_relay.h"
#include "support/heard_share.h"
#include "support/run_cost.h"
#include "test_helpers/child_process.h"
#include "test_helpers/markers.h"
#include "test_helpers/media_files.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/temp_file.h"
#include "test_helpers/udp_streamer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using TestHelpers::Bytes;

namespace {

constexpr std::size_t rate = 44100;
const std::string receiverPath = VELDRANE_BINARY_DIR "/veldrane";
const std::string senderPath = VELDRANE_BINARY_DIR "/tools/veldrane-send";

bool receiverListening(TestHelpers::ChildProcess& veldrane)
{
    if (veldrane.waitForStdout("lytter på port 8888", 10s))
        return true;
    std::printf("    veldrane did not start\n");
    return false;
}

// (a)

Bench::RunCost ffmpegToVorbis(const std::string& file)
{
    return Bench::runCounted("/usr/bin/ffmpeg",
                             {"-hide_banner", "-loglevel", "error", "-i", file, "-ar", "44100", "-ac", "2",
                              "-c:a", "libvorbis", "-q:a", "5", "-f", "ogg", "-"});
}

void printConversionCost(const std::string& mp3, double seconds, int rounds)
{
    std::printf("(a) CPU per second of audio, %.0f s music-like MP3, sent in real time to veldrane\n",
                seconds);
    TestHelpers::ChildProcess veldrane(receiverPath);
    if (!receiverListening(veldrane))
        return;
    for (int round = 0; round < rounds; ++round) {
        const Bench::RunCost send = Bench::runCounted(senderPath, {"--quiet", "127.0.0.1", mp3});
        // The next round starts on a receiver that has let the last one go.
        veldrane.waitForCount("dekoding stoppet", round + 1, 5s);
        const Bench::RunCost ffmpeg = ffmpegToVorbis(mp3);
        const double ours = 1000 * send.cpuSeconds / seconds, theirs = 1000 * ffmpeg.cpuSeconds / seconds;
        std::printf(
            "    round %d: veldrane-send %.2f ms (exit %d); baseline ffmpeg -c:a libvorbis -q:a 5 %.2f ms "
            "(exit %d); %.2fx\n",
            round, ours, send.exitCode, theirs, ffmpeg.exitCode, theirs > 0 ? ours / theirs : 0.0);
    }
}

// (b)

constexpr const char* clickSink = "veldrane_bench_click";
constexpr double clickSpacing = 1.5; // s, longer than any delay measured
constexpr float clickLevel = 0.8f;

// float32 stereo: 5 ms of 1 kHz at the start of each spacing.
Bytes clickTrack(int clicks)
{
    const auto spacing = static_cast<std::size_t>(clickSpacing * rate);
    std::vector<float> samples(2 * spacing * static_cast<std::size_t>(clicks), 0.0f);
    for (std::size_t at = 0; at < samples.size() / 2; at += spacing) {
        for (std::size_t i = 0; i < rate / 200; ++i) {
            const auto x = static_cast<float>(clickLevel * std::sin(2 * M_PI * 1000 * double(i) / rate));
            samples[2 * (at + i)] = samples[2 * (at + i) + 1] = x;
        }
    }
    Bytes bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

bool playClicks(int clicks)
{
    const TestHelpers::TempFile track(clickTrack(clicks));
    const auto played =
        TestHelpers::runToEnd("/usr/bin/pacat",
                              {std::string("--device=") + clickSink, "--format=float32le", "--rate=44100",
                               "--channels=2", "--raw", "--latency-msec=10", track.path()},
                              {}, 60s);
    return played.exitCode == 0;
}

std::vector<std::size_t> clickOnsets(const TestHelpers::SinkRecorder& recorder)
{
    // markerOnsets' threshold is 2.25 times this: half the click's level.
    return TestHelpers::markerOnsets(recorder.samples(), clickLevel / 4.5f, rate);
}

// Each played click with the first click heard after it, within the spacing.
std::vector<double> pairDelays(const TestHelpers::SinkRecorder& played,
                               const TestHelpers::SinkRecorder& heard)
{
    const auto in = clickOnsets(played), out = clickOnsets(heard);
    std::vector<double> delays;
    for (const std::size_t click : in) {
        const auto from = played.frameTime(click);
        for (const std::size_t h : out) {
            const double d = std::chrono::duration<double>(heard.frameTime(h) - from).count();
            if (d >= 0 && d < clickSpacing) {
                delays.push_back(d);
                break;
            }
        }
    }
    return delays;
}

std::vector<double> clickDelays(int clicks)
{
    TestHelpers::ChildProcess veldrane(receiverPath);
    if (!receiverListening(veldrane))
        return {};
    TestHelpers::ChildProcess sender(senderPath, {"--quiet", "--sink", clickSink, "127.0.0.1"});
    if (!veldrane.waitForStdout("starter dekoding", 15s))
        return {};
    // The receiver settles on its cushion in the live stream's first seconds.
    std::this_thread::sleep_for(2s);
    TestHelpers::SinkRecorder played(clickSink);
    TestHelpers::SinkRecorder heard;
    played.start();
    heard.start();
    const bool ok = playClicks(clicks);
    std::this_thread::sleep_for(std::chrono::duration<double>(clickSpacing));
    played.stop();
    heard.stop();
    return ok ? pairDelays(played, heard) : std::vector<double>();
}

void printClickDelays(int clicks)
{
    std::printf("(b) click played into --sink %s to the click heard on the null sink (aim: under 0.6 s)\n",
                clickSink);
    std::vector<double> delays = clickDelays(clicks);
    std::printf("    %zu of %d clicks heard:", delays.size(), clicks);
    for (const double d : delays)
        std::printf(" %.3f", d);
    std::sort(delays.begin(), delays.end());
    if (delays.empty())
        std::printf("\n");
    else
        std::printf("\n    median %.3f s\n", delays[delays.size() / 2]);
}

// (c)

struct Heard {
    bool ok = false;
    double share = 0;
    double longestSilence = 0; // s
    std::size_t datagrams = 0, dropped = 0;
};

// The stream as the sender used to send it: 1024-byte slices, 1 s ahead.
bool sendCut(TestHelpers::TcpClient& controller, const Bench::DroppingRelay& relay, const Bytes& stream,
             double seconds)
{
    if (!controller.connect(relay.controlPort()) || !controller.send("startTransmission ")
        || controller.readUntil("udpReady " + std::to_string(relay.streamPort()), 5s).empty())
        return false;
    TestHelpers::UdpStreamer::Options options;
    options.lead = 1000ms;
    TestHelpers::UdpStreamer streamer(relay.streamPort(), TestHelpers::splitDatagrams(stream, 1024), options);
    return streamer.waitDone(std::chrono::seconds(static_cast<long>(seconds) + 30));
}

bool sendWithVeldraneSend(const Bench::DroppingRelay& relay, const std::string& file, double seconds)
{
    const auto sent = TestHelpers::runToEnd(
        senderPath, {"--quiet", "--port", std::to_string(relay.controlPort()), "127.0.0.1", file}, {},
        std::chrono::seconds(static_cast<long>(seconds) + 30));
    return sent.exitCode == 0;
}

Heard analyse(const std::vector<float>& recording, const std::vector<float>& reference)
{
    Heard h;
    h.share = Bench::heardShare(recording, reference);
    const std::size_t first = TestHelpers::firstNonZeroFrame(recording);
    if (first != static_cast<std::size_t>(-1))
        h.longestSilence =
            double(TestHelpers::longestSilence(recording, first, first + reference.size() / 2)) / rate;
    h.ok = true;
    return h;
}

Heard throughRelay(bool cut, const TestHelpers::TempFile& file, const std::vector<float>& reference,
                   double loss, unsigned seed)
{
    const double seconds = double(reference.size() / 2) / rate;
    TestHelpers::ChildProcess veldrane(receiverPath);
    if (!receiverListening(veldrane))
        return {};
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    const Bench::DroppingRelay relay(loss, seed);
    // Held open until the end is heard: the receiver stops when it closes.
    TestHelpers::TcpClient controller;
    const bool sent = cut ? sendCut(controller, relay, file.bytes(), seconds)
                          : sendWithVeldraneSend(relay, file.path(), seconds);
    recorder.waitForSound(reference.size() / 2 + 2 * rate, 10s);
    recorder.stop();
    if (!sent)
        return {};
    Heard h = analyse(recorder.samples(), reference);
    h.datagrams = relay.datagrams();
    h.dropped = relay.dropped();
    return h;
}

void printHeard(const char* sender, double loss, unsigned seed, const Heard& h)
{
    if (!h.ok) {
        std::printf("    %2.0f %% seed %u  %-36s run failed\n", loss * 100, seed, sender);
        return;
    }
    std::printf(
        "    %2.0f %% seed %u  %-36s heard %.3f, longest silence %5.0f ms (%zu of %zu datagrams dropped)\n",
        loss * 100, seed, sender, h.share, h.longestSilence * 1000, h.dropped, h.datagrams);
}

void printLossyNetwork(const Bytes& stream, double seconds)
{
    std::printf("(c) %.0f s music-like Ogg stream through a relay that drops datagrams at random;\n"
                "    heard = share of its 10 ms stretches bit-exact in the recording\n",
                seconds);
    const TestHelpers::TempFile file(stream);
    const std::vector<float> reference = TestHelpers::referenceDecode(stream);
    unsigned seed = 1;
    for (const double loss : {0.01, 0.05}) {
        printHeard("before: 1024-byte slices, 1 s ahead", loss, seed,
                   throughRelay(true, file, reference, loss, seed));
        printHeard("veldrane-send: whole pages", loss, seed,
                   throughRelay(false, file, reference, loss, seed));
        ++seed;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
    const Bytes stream = TestHelpers::encodeOgg(TestHelpers::musicLike(seconds));

    const TestHelpers::MediaFile mp3("mp3", stream);
    printConversionCost(mp3.path(), seconds, 3);
    printClickDelays(10);
    printLossyNetwork(stream, seconds);
    return 0;
}
