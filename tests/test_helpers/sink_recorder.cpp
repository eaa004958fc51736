#include "test_helpers/sink_recorder.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace TestHelpers {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

bool frameIsZero(const std::vector<float>& s, std::size_t frame)
{
    return s[2 * frame] == 0.0f && s[2 * frame + 1] == 0.0f;
}

} // namespace

std::size_t firstNonZeroFrame(const std::vector<float>& interleaved, std::size_t fromFrame)
{
    const std::size_t n = interleaved.size() / 2;
    for (std::size_t f = fromFrame; f < n; ++f) {
        if (!frameIsZero(interleaved, f))
            return f;
    }
    return npos;
}

std::string SinkRecorder::sinkName()
{
    const char* sink = std::getenv("VELDRANE_SINK");
    return sink && *sink ? sink : "veldrane_null";
}

SinkRecorder::SinkRecorder() : _sink(sinkName())
{
}

SinkRecorder::SinkRecorder(std::string sink) : _sink(std::move(sink))
{
}

SinkRecorder::~SinkRecorder()
{
    try {
        stop();
    } catch (...) {
    }
}

void SinkRecorder::start()
{
    if (_pid > 0)
        throw std::runtime_error("SinkRecorder: already recording");
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _samples.clear();
        _partial.clear();
        _reads.clear();
        _firstSound = npos;
    }

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("SinkRecorder: pipe: ") + std::strerror(errno));

    const std::string device = "--device=" + _sink + ".monitor";
    const char* argv[] = {"parec",        device.c_str(), "--format=float32le", "--rate=44100",
                          "--channels=2", "--raw",        "--latency-msec=10",  nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        throw std::runtime_error(std::string("SinkRecorder: cannot start parec: ") + std::strerror(rc));
    }
    _pid = pid;
    _reader = std::thread([this, fd = fds[0]] { readLoop(fd); });

    // The monitor delivers (zero) frames even when nothing plays, so data
    // arriving proves the capture is live.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frames() == 0) {
        int status = 0;
        if (waitpid(_pid, &status, WNOHANG) == _pid) {
            _pid = -1;
            _reader.join();
            throw std::runtime_error("SinkRecorder: parec ended at once (is the sound server up?)");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("SinkRecorder: parec delivered nothing within 5 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SinkRecorder::stop()
{
    if (_pid > 0) {
        kill(_pid, SIGTERM);
        int status = 0;
        while (waitpid(_pid, &status, 0) < 0 && errno == EINTR) {}
        _pid = -1;
    }
    if (_reader.joinable())
        _reader.join();
}

void SinkRecorder::readLoop(int fd)
{
    std::vector<unsigned char> chunk(65536);
    for (;;) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::lock_guard<std::mutex> lock(_mutex);
        _partial.insert(_partial.end(), chunk.begin(), chunk.begin() + n);
        const std::size_t whole = _partial.size() / sizeof(float);
        const std::size_t old = _samples.size();
        _samples.resize(old + whole);
        std::memcpy(_samples.data() + old, _partial.data(), whole * sizeof(float));
        _partial.erase(_partial.begin(), _partial.begin() + whole * sizeof(float));
        _reads.emplace_back(_samples.size() / 2, std::chrono::steady_clock::now());
        if (_firstSound == npos) {
            // A frame may be split across reads: rescan from its start.
            const std::size_t from = old / 2;
            const std::size_t f = firstNonZeroFrame(_samples, from);
            if (f != npos)
                _firstSound = f;
        }
    }
    close(fd);
}

std::size_t SinkRecorder::frames() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _samples.size() / 2;
}

std::size_t SinkRecorder::soundFrames() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (_firstSound == npos)
        return 0;
    return _samples.size() / 2 - _firstSound;
}

bool SinkRecorder::waitForSound(std::size_t wanted, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (soundFrames() < wanted) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::chrono::steady_clock::time_point SinkRecorder::frameTime(std::size_t frame) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (const auto& read : _reads) {
        if (read.first > frame) {
            const double after = static_cast<double>(read.first - 1 - frame) / 44100.0;
            return read.second
                   - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(after));
        }
    }
    return std::chrono::steady_clock::time_point::max();
}

std::vector<float> SinkRecorder::samples() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _samples;
}

bool Comparison::bitExact() const
{
    return contiguous && std::isinf(snrDb);
}

std::string Comparison::describe() const
{
    char line[320];
    std::snprintf(line, sizeof line,
                  "found=%d offset=%zu compared=%zu/%zu snr=%.1f dB contiguous=%d "
                  "firstMismatch=%ld mismatched=%zu",
                  found ? 1 : 0, offset, framesCompared, referenceFrames, snrDb, contiguous ? 1 : 0,
                  firstMismatch, mismatchedFrames);
    return line;
}

Comparison compareWithReference(const std::vector<float>& recording, const std::vector<float>& reference,
                                const CompareOptions& options)
{
    Comparison c;
    const std::size_t recFrames = recording.size() / 2;
    const std::size_t refFrames = reference.size() / 2;
    c.referenceFrames = refFrames;

    const std::size_t refOnset = firstNonZeroFrame(reference);
    const std::size_t recOnset = firstNonZeroFrame(recording);
    if (refOnset == npos || recOnset == npos || recOnset < refOnset)
        return c;
    std::size_t offset = recOnset - refOnset;

    if (options.searchRadius > 0) {
        // Least squared error over a window after the onset.
        const std::size_t window = std::min<std::size_t>(8192, refFrames - refOnset);
        const std::size_t lo = offset > options.searchRadius ? offset - options.searchRadius : 0;
        const std::size_t hi = offset + options.searchRadius;
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t cand = lo; cand <= hi; ++cand) {
            if (cand + refOnset + window > recFrames)
                break;
            double err = 0;
            for (std::size_t i = refOnset; i < refOnset + window && err < best; ++i) {
                const double dl = recording[2 * (cand + i)] - reference[2 * i];
                const double dr = recording[2 * (cand + i) + 1] - reference[2 * i + 1];
                err += dl * dl + dr * dr;
            }
            if (err < best) {
                best = err;
                offset = cand;
            }
        }
    }

    c.found = true;
    c.offset = offset;
    c.framesCompared = std::min(refFrames, recFrames - offset);

    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < c.framesCompared; ++i) {
        bool same = true;
        for (int ch = 0; ch < 2; ++ch) {
            const double ref = reference[2 * i + ch];
            const double d = recording[2 * (offset + i) + ch] - ref;
            signal += ref * ref;
            noise += d * d;
            if (std::fabs(d) > options.tolerance)
                same = false;
        }
        if (!same) {
            if (c.firstMismatch < 0)
                c.firstMismatch = static_cast<long>(i);
            ++c.mismatchedFrames;
        }
    }
    if (noise == 0)
        c.snrDb = std::numeric_limits<double>::infinity();
    else
        c.snrDb = 10.0 * std::log10(signal / noise);
    c.contiguous = c.framesCompared == refFrames && c.mismatchedFrames == 0;
    return c;
}

} // namespace TestHelpers
