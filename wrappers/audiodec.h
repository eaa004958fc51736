#pragma once

#include "audio/clock_follower.h"
#include "audio/cushion.h"
#include "audio/downmix.h"
#include "audio/gap_ledger.h"
#include "audio/hole_stage.h"
#include "audio/rate_estimator.h"
#include "audio/sink.h"
#include "wrappers/ogg_input.h"
#include "wrappers/resampler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct OggVorbis_File;

namespace Wrappers {

class Net;

// Decodes an Ogg Vorbis stream read from a Net into full buffers of a
// sink: 44100 Hz stereo whatever the rate and channel count of each link,
// at the speed of the sender's clock, with lost audio played as silence of
// its own length. Used by one thread.
class AudioDec {
public:
    // What a run played, for the line at its end.
    struct Report {
        Audio::GapLedger::Totals gaps;
        double slowest = 1.0; // the speed's range
        double fastest = 1.0;
        unsigned long pagesLost = 0; // by their sequence numbers
        unsigned long pagesRefused = 0;
        unsigned long duplicates = 0; // datagrams or pages dropped as repeats
        unsigned long reordered = 0;  // datagrams or pages put back in order
    };

    AudioDec();
    ~AudioDec();
    AudioDec(const AudioDec&) = delete;
    AudioDec& operator=(const AudioDec&) = delete;

    // Opens the stream; throws Utils::AdReadError, Utils::AdDataError or
    // Utils::AdError. net and sink must outlive the opening.
    void init(Net* net, Audio::Sink* sink);
    // Decodes one full buffer and triggers the sink. When the stream
    // stalls or ends, the frames decoded so far are completed with silence
    // and triggered, and Utils::AdReadError is thrown.
    void decode();
    bool isInitialized() const;
    // Releases the stream state; isInitialized() is false afterwards.
    void close();
    // Asked while a read waits for the network (see OggInput): opening and
    // decoding give up soon after it says true.
    void setStopCheck(std::function<bool()> stopRequested);
    // Since the latest init().
    Report report() const;
    const OggInput& input() const { return _input; }

    static size_t cbRead(void* ptr, size_t size, size_t nmemb, void* datasource);
    static int cbSeek(void* datasource, int64_t offset, int whence);
    static int cbClose(void* datasource);
    static long cbTell(void* datasource);

private:
    void forgetFrames();
    void readChunk(int filled, int room);
    void stereo(float** pcm, int frames, float*& left, float*& right);
    void takeChunk(float** pcm, int frames);
    void useRate(long rate);
    bool loadPending();
    int playChunk(int offset, int room);
    int playTail(int offset, int room);
    void playPartial(int filled);
    void startResampling(long rate);
    void stage(float** pcm, int frames, int filled);
    void releaseStage(int64_t missingFrames, int filled);
    void arrived(const OggInput::Newest& page);
    double secondsSince(Audio::Sink::Clock::time_point t) const;
    void timeDevice();
    double senderRate(double& uncertainty) const;
    double heldSeconds() const;
    void afterHandOver(bool flowing = true);
    void noteStarvation();
    void keepCushion();
    void useSpeed(double speed);

    // The library's stream state, allocated once with the decoder so that
    // no reception run allocates it again.
    std::unique_ptr<OggVorbis_File> _vf;
    int _section;
    Net* _net;
    Audio::Sink* _sink;
    bool _initialized;
    OggInput _input;
    OggInput::Counts _closedCounts; // the input's, when the latest run's decoder was closed

    // Frames to play next, as stereo: the library's own arrays (valid until
    // its next call), _mixLeft/_mixRight for a downmix, the staged frames
    // after a hole, or _zeros for the silence of lost audio.
    float* _chunk[2];
    long _chunkRate;
    long _badRate; // a rate that cannot be played, reported once
    Audio::Downmix _downmix;
    std::vector<float> _mixLeft, _mixRight, _zeros;
    Resampler _resampler;
    int _chunkFrames;
    bool _chunkIsStream; // not silence of our own
    bool _tail;          // the resampler still holds the end of the previous rate's frames
    bool _ending;        // the stream stalled or ended: play what is decoded, then report
    bool _gapSeen;       // the device played silence since the last hand-over

    // Holes: what was decoded after one waits until its place is known.
    Audio::HoleStage _stage;
    Audio::GapLedger _ledger;
    int64_t _zerosLeft;   // frames of silence to play before the staged ones
    int64_t _starvedSeen; // the sink's starved frames at the last look
    int _stageSection;    // the link the hole was in
    int _stagedLeft;      // staged frames not played yet

    // Following the sender's clock and keeping what its pacing needs: both
    // the sender's pages and the device's requests are timed by this
    // machine's clock, from the opening on.
    Audio::Sink::Clock::time_point _startedAt;
    Audio::Sink::Clock::time_point _deviceAskedAt;
    Audio::RateEstimator _estimator;
    Audio::RateEstimator _device;
    Audio::ClockFollower _follower;
    Audio::Cushion _cushion;
    uint32_t _estimatedSerial; // the link the estimator's points belong to
    bool _variable;            // the speed has left 1 in this run: resample at a variable ratio
};

} // namespace Wrappers
