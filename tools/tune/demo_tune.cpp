// veldrane-demo-tune: writes a short stereo Ogg Vorbis tune, synthesised
// here, so that the demo has something to play on a machine with no music.

#include "audio/format.h"
#include "tune/ogg_encoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long rate = Audio::sampleRate;
constexpr double pi = 3.14159265358979323846;

double noteHz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// A plucked note: two partials under a fast attack and an exponential decay.
void pluck(std::vector<float>& out, long start, double seconds, int midi, float gain, double decay)
{
    const double hz = noteHz(midi);
    const long n = static_cast<long>(seconds * rate);
    for (long i = 0; i < n && start + i < static_cast<long>(out.size()); ++i) {
        const double t = double(i) / rate;
        const double env = std::min(1.0, t * 200.0) * std::exp(-t * decay);
        const double v = std::sin(2 * pi * hz * t) + 0.3 * std::sin(4 * pi * hz * t);
        out[static_cast<size_t>(start + i)] += static_cast<float>(gain * env * v);
    }
}

std::vector<unsigned char> makeTune()
{
    // I-vi-IV-V twice, arpeggiated in eighths over a bass line.
    const int roots[] = {48, 45, 41, 43, 48, 45, 41, 43, 48};
    const bool minor[] = {false, true, false, false, false, true, false, false, false};
    const double beat = 60.0 / 112.0;
    const long bars = 9;
    const long frames = static_cast<long>((bars * 4 + 2) * beat * rate);
    std::vector<float> lead(static_cast<size_t>(frames)), bass(static_cast<size_t>(frames));

    for (long bar = 0; bar < bars; ++bar) {
        const int root = roots[bar];
        const int third = root + (minor[bar] ? 3 : 4);
        const int chord[] = {root + 12,  third + 12, root + 19,  root + 24,
                             third + 24, root + 19,  third + 12, root + 19};
        const long barStart = static_cast<long>(static_cast<double>(bar * 4) * beat * rate);
        const bool last = bar == bars - 1;
        for (int step = 0; step < (last ? 1 : 8); ++step)
            pluck(lead, barStart + static_cast<long>(step * beat / 2 * rate), last ? 4 * beat : beat,
                  chord[step], 0.22f, last ? 1.2 : 5.0);
        pluck(bass, barStart, 2 * beat, root - 12, 0.35f, 1.5);
        if (!last)
            pluck(bass, barStart + static_cast<long>(2 * beat * rate), 2 * beat, root - 5, 0.3f, 1.5);
    }

    // The lead leans right, with a quieter echo a dotted eighth later on the
    // left; the bass sits in the middle.
    const long echo = static_cast<long>(0.75 * beat * rate);
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    for (long i = 0; i < frames; ++i) {
        const auto k = static_cast<size_t>(i);
        const float delayed = i >= echo ? lead[static_cast<size_t>(i - echo)] : 0.0f;
        left[k] = 0.8f * bass[k] + 0.45f * lead[k] + 0.35f * delayed;
        right[k] = 0.8f * bass[k] + 0.75f * lead[k] + 0.1f * delayed;
    }

    Tools::OggEncoder encoder(2, rate, 5, 0x5eed);
    const float* channels[] = {left.data(), right.data()};
    encoder.write(channels, frames);
    return encoder.finish();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: veldrane-demo-tune FILE\n"
                     "Writes a short stereo Ogg Vorbis tune (about 20 s, 44100 Hz) to FILE\n"
                     "(\"-\" for standard output).\n");
        return argc == 2 ? 0 : 2;
    }
    const auto bytes = makeTune();
    const std::string path = argv[1];
    FILE* out = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (!out) {
        std::perror(path.c_str());
        return 1;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out != stdout)
        std::fclose(out);
    if (!ok) {
        std::fprintf(stderr, "veldrane-demo-tune: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
