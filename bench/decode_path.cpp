// CPU cost of the audio path against the bare decoding library, measured
// in one run on the same generated stereo stream:
//   floor: ov_read_float over the stream in memory, nothing else;
//   path:  datagrams served from memory -> Wrappers::AudioDec ->
//          Wrappers::AudioIO -> the sound server, in real time.
// With a rate other than 44100 the path resamples and the floor does not,
// so the ratio shows what resampling costs.
// Needs a sound server (scripts/pulse.sh). Usage: bench_decode_path [seconds] [rate]

#include "test_helpers/memory_net.h"
#include "test_helpers/ogg_maker.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/audioio.h"
#include "wrappers/net.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace TestHelpers;

namespace {

double clockSeconds(clockid_t id)
{
    timespec ts;
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Decodes the whole stream with nothing around the library; returns the
// frames decoded and the CPU seconds taken.
long bareDecode(const Bytes& stream, double* cpu)
{
    double t0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    MemorySource m{&stream};
    ov_callbacks cb{MemorySource::read, nullptr, nullptr, nullptr};
    OggVorbis_File vf;
    if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0)
        return -1;
    long frames = 0;
    int section = 0;
    for (;;) {
        float** pcm = nullptr;
        long r = ov_read_float(&vf, &pcm, 8192, &section);
        if (r == OV_HOLE || r == OV_EBADLINK)
            continue;
        if (r <= 0)
            break;
        frames += r;
    }
    ov_clear(&vf);
    *cpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - t0;
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    if (seconds <= 0)
        seconds = 60.0;

    const long rate = argc > 2 ? std::atol(argv[2]) : 44100;

    OggParams params;
    params.seconds = seconds;
    params.rate = rate > 0 ? rate : 44100;
    Bytes stream = encodeOgg(params);
    std::printf("decode_path: %.1f s stereo %ld Hz stream, %zu bytes, 1024-byte datagrams\n", seconds,
                params.rate, stream.size());

    // The floor: best of three, the first also warms the caches.
    double floorCpu = 1e9;
    long floorFrames = 0;
    for (int i = 0; i < 3; ++i) {
        double cpu = 0;
        floorFrames = bareDecode(stream, &cpu);
        floorCpu = std::min(floorCpu, cpu);
    }
    if (floorFrames <= 0) {
        std::printf("decode_path: the stream does not decode\n");
        return 1;
    }
    double floorPerSecond = floorCpu / (double(floorFrames) / double(params.rate));

    long playedFrames = 0;
    double pathCpu = 0;
    double threadCpu = 0;
    double wall = 0;
    try {
        auto* mem = new MemoryNet(splitDatagrams(stream, 1024));
        mem->setRecordRequests(false);
        Wrappers::Net net(mem);
        Wrappers::AudioIO aio;
        aio.init(2, 0);
        Wrappers::AudioDec dec;

        double c0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        double t0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
        double w0 = clockSeconds(CLOCK_MONOTONIC);
        dec.init(&net, &aio);
        for (;;) {
            try {
                dec.decode();
                playedFrames += aio.bufSize();
            } catch (const Utils::AdReadError&) {
                break; // the end of the stream
            }
        }
        pathCpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
        threadCpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
        wall = clockSeconds(CLOCK_MONOTONIC) - w0;
    } catch (const Utils::VeldraneError&) {
        std::printf("decode_path: the audio path failed (is a sound server running?)\n");
        return 1;
    }
    if (playedFrames <= 0) {
        std::printf("decode_path: nothing was played\n");
        return 1;
    }
    double pathPerSecond = pathCpu / (double(playedFrames) / 44100.0);
    double threadPerSecond = threadCpu / (double(playedFrames) / 44100.0);

    // The device alone: the same output fed silence, no decoding, for part
    // of the length, to tell the audio library's share from the decoder's.
    double deviceSeconds = std::min(seconds, 15.0);
    double deviceCpu = 0;
    long deviceFrames = 0;
    try {
        Wrappers::AudioIO aio;
        aio.init(2, 0);
        double c0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        while (deviceFrames < long(deviceSeconds * 44100.0)) {
            aio.silence(0, aio.bufSize());
            aio.trigger();
            deviceFrames += aio.bufSize();
        }
        deviceCpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
    } catch (const Utils::VeldraneError&) {
        std::printf("decode_path: the device alone failed\n");
        return 1;
    }
    double devicePerSecond = deviceCpu / (double(deviceFrames) / 44100.0);

    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    std::printf(
        "floor (ov_read_float from memory):            %.5f CPU s per audio s (%ld frames, %.3f CPU s)\n",
        floorPerSecond, floorFrames, floorCpu);
    std::printf("path  (memory -> AudioDec -> AudioIO -> sink): %.5f CPU s per audio s (%ld frames, %.3f CPU "
                "s, %.1f s wall)\n",
                pathPerSecond, playedFrames, pathCpu, wall);
    std::printf(
        "  of which the decoding thread:                %.5f CPU s per audio s (ratio to floor %.2f)\n",
        threadPerSecond, threadPerSecond / floorPerSecond);
    std::printf("  and the audio library's threads:             %.5f CPU s per audio s\n",
                pathPerSecond - threadPerSecond);
    std::printf("device alone (silence, no decoding):          %.5f CPU s per audio s (%ld frames)\n",
                devicePerSecond, deviceFrames);
    std::printf("ratio path/floor: %.2f (aim: at most 2.5); without the device's own cost: %.2f\n",
                pathPerSecond / floorPerSecond, (pathPerSecond - devicePerSecond) / floorPerSecond);
    std::printf("peak memory (ru_maxrss): %ld KiB\n", ru.ru_maxrss);
    return 0;
}
