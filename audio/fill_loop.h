#pragma once

#include "audio/downmix.h"
#include "audio/frame_source.h"
#include "audio/gap_ledger.h"
#include "audio/hole_stage.h"
#include "audio/intake/intake.h"
#include "audio/rate_conversion.h"
#include "audio/sender_clock.h"
#include "audio/sink.h"

#include <cstdint>
#include <vector>

namespace Audio {

// Fills a sink's buffers from a decoded stream: 44100 Hz stereo whatever
// the rate and channel count of each link, at the speed of the sender's
// clock, with lost audio played as silence of its own length, and hands
// each full buffer over, taking datagrams while the device plays. Used by
// the decoding thread only.
class FillLoop {
public:
    FillLoop(FrameSource& source, Intake& intake, Converter& converter);

    // A new run into `sink`, timed from now; before the stream opens.
    void start(Sink& sink);
    // Forgets every frame held; the sink is not used again.
    void stop();
    // One full buffer, handed over. When the stream stalls or ends, the
    // frames so far are completed with silence and handed over, and
    // Utils::AdReadError is thrown.
    void fill();
    // A page of the stream arrived.
    void arrived(const PageArrival& page);

    const GapLedger::Totals& gaps() const { return _ledger.totals(); }
    double slowest() const { return _clock.slowest(); }
    double fastest() const { return _clock.fastest(); }

private:
    void readChunk(int filled, int room);
    void stereo(float** pcm, int frames, float*& left, float*& right);
    void takeChunk(float** pcm, int frames);
    void useRate(long rate);
    bool loadPending();
    int playChunk(int offset, int room);
    int playTail(int offset, int room);
    void playPartial(int filled);
    void stage(float** pcm, int frames, int filled);
    void releaseStage(int64_t missingFrames, int filled);
    void playSilenceFor(int64_t missingFrames, double rate, int filled);
    double heldSeconds() const;
    void afterHandOver(bool flowing = true);
    void noteStarvation();
    void keepCushion();

    FrameSource& _source;
    Intake& _intake;
    Sink* _sink = nullptr;
    RateConversion _conversion;
    SenderClock _clock;

    // Frames to play next, as stereo: the source's own arrays (valid until
    // its next call), _mixLeft/_mixRight for a downmix, the staged frames
    // after a hole, or _zeros for the silence of lost audio.
    float* _chunk[2] = {nullptr, nullptr};
    int _chunkFrames = 0;
    bool _chunkIsStream = true; // not silence of our own
    Downmix _downmix;
    std::vector<float> _mixLeft, _mixRight, _zeros;
    bool _ending = false;  // the stream stalled or ended: play what is decoded, then report
    bool _gapSeen = false; // the device played silence since the last hand-over

    // Holes: what was decoded after one waits until its place is known.
    HoleStage _stage;
    GapLedger _ledger;
    int64_t _zerosLeft = 0;        // frames of silence to play before the staged ones
    int64_t _starvedSeen = 0;      // the sink's starved frames at the last look
    int64_t _serverSilentSeen = 0; // and the server's own silence
    long _serverGapsSeen = 0;
    int _stageLink = -1; // the link the hole was in
    int _stagedLeft = 0; // staged frames not played yet
};

} // namespace Audio
