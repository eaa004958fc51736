#pragma once

#include <array>
#include <cstddef>

namespace Audio {

// Tells how fast a sender's audio arrives by the sound device's clock,
// from when its pages arrive against the audio they carry.
//
// Each page gives how late it came: the device time of its arrival less
// where its audio starts (and less where it ends). Pacing, jitter and the
// network only ever make a page later than the sender's clock allows, never
// earlier, so the earliest arrivals of each stretch of a couple of seconds
// follow the sender's clock alone, whether pages leave at their start (a
// sender with a lead), at their end (a live encoder) or in bursts, and
// whatever was lost or stalled. A line fitted through those earliest
// arrivals over minutes has a slope: the difference of the two clocks. It
// counts only once it stands out of the scatter of the points around it,
// so a sender on the device's clock is played at exactly 1.
//
// Driven by the times it is given, so tests run minutes of stream in
// milliseconds. Used by the decoding thread only; allocates nothing.
class RateEstimator {
public:
    static constexpr double bucketSeconds = 2.0;
    static constexpr std::size_t maxBuckets = 300; // ten minutes
    // How far out of its standard error a slope must stand to count.
    static constexpr double enterSigmas = 5.0;

    void reset();
    // The points so far belong to another link: they are forgotten, what
    // was established stays until new points tell otherwise.
    void restart();
    // A page with a granule position arrived at deviceSeconds; its audio
    // spans mediaStart to mediaEnd seconds of its link (mediaStart < 0: not
    // known, the page before it was not seen).
    void observe(double deviceSeconds, double mediaStart, double mediaEnd);
    // The clocks are known to differ.
    bool established() const { return _established; }
    // Seconds of the sender's audio that arrive per device second: 1 until
    // established.
    double rate() const { return _established ? 1.0 - _slope : 1.0; }
    // The measured rate, established or not, and its standard error.
    double measuredRate() const { return 1.0 - _slope; }
    double uncertainty() const { return _uncertainty; }
    // How much later than the earliest a page's first sample has come in
    // the last minute: what the sender's pacing asks the receiver to hold.
    double lateness() const;

private:
    struct Bucket {
        double at = 0;          // device time of the earliest arrival
        double earliestEnd = 0; // least (arrival - end of audio)
        double latestStart = 0; // largest (arrival - start of audio)
        double earliestStart = 0;
        bool startKnown = false;
    };
    struct Fit {
        std::size_t points = 0;
        std::size_t group = 1;
        double slope = 0;
        double stderrSlope = 0;
        double scatter = 0;
        bool valid = false;
    };

    void close();
    void refit();
    Fit bestFit(bool byStart) const;
    Fit fit(bool byStart, std::size_t group) const { return fit(byStart, group, 0, _count); }
    Fit fit(bool byStart, std::size_t group, std::size_t begin, std::size_t end) const;
    bool consistent(const Fit& whole, bool byStart) const;
    bool forgetBeforeStep(double slope, double scatter, bool byStart);
    double value(const Bucket& b, bool byStart) const { return byStart ? b.earliestStart : b.earliestEnd; }
    const Bucket& bucket(std::size_t i) const { return _buckets[(_first + i) % maxBuckets]; }

    std::array<Bucket, maxBuckets> _buckets{};
    std::size_t _first = 0;
    std::size_t _count = 0;
    Bucket _open{};
    bool _openUsed = false;
    double _openUntil = 0;
    double _slope = 0;
    double _uncertainty = 1.0;
    bool _established = false;
};

} // namespace Audio
