#pragma once

#include "utils/clock_follower.h"
#include "utils/downmix.h"
#include "wrappers/ogg_input.h"
#include "wrappers/resampler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct OggVorbis_File;

namespace Wrappers {

class AudioIO;
class Net;

// Decodes an Ogg Vorbis stream read from a Net into full buffers of an
// AudioIO: 44100 Hz stereo whatever the rate and channel count of each
// link. Used by one thread.
class AudioDec {
public:
    AudioDec();
    ~AudioDec();
    AudioDec(const AudioDec&) = delete;
    AudioDec& operator=(const AudioDec&) = delete;

    // Opens the stream; throws Utils::AdReadError, Utils::AdDataError or
    // Utils::AdError. net and aio must outlive the opening.
    void init(Net* net, AudioIO* aio);
    // Decodes one full buffer and triggers the output. When the stream
    // stalls or ends, the frames decoded so far are completed with silence
    // and triggered, and Utils::AdReadError is thrown.
    void decode();
    bool isInitialized() const;
    // Releases the stream state; isInitialized() is false afterwards.
    void close();
    // Asked while a read waits for the network (see OggInput): opening and
    // decoding give up soon after it says true.
    void setStopCheck(std::function<bool()> stopRequested);

    static size_t cbRead(void* ptr, size_t size, size_t nmemb, void* datasource);
    static int cbSeek(void* datasource, int64_t offset, int whence);
    static int cbClose(void* datasource);
    static long cbTell(void* datasource);

private:
    void forgetFrames();
    void readChunk(int room);
    void takeChunk(float** pcm, int frames);
    void useRate(long rate);
    int playChunk(int offset, int room);
    int playTail(int offset, int room);
    void playPartial(int filled);
    void startResampling(long rate);
    void followClock();
    bool waiting(double& seconds) const;
    void useSpeed(double speed);

    // The library's stream state, allocated once with the decoder so that
    // no reception run allocates it again.
    std::unique_ptr<OggVorbis_File> _vf;
    int _section;
    Net* _net;
    AudioIO* _aio;
    bool _initialized;
    OggInput _input;

    // Decoded frames not played yet, as stereo: the library's own arrays
    // (valid until its next call) or _mixLeft/_mixRight for a downmix.
    float* _chunk[2];
    int _chunkFrames;
    long _chunkRate;
    Utils::Downmix _downmix;
    std::vector<float> _mixLeft, _mixRight;
    Resampler _resampler;
    bool _tail;    // the resampler still holds the end of the previous rate's frames
    bool _ending;  // the stream stalled or ended: play what is decoded, then report
    long _badRate; // a rate that cannot be played, reported once

    // Following the sender's clock: see Utils::ClockFollower.
    Utils::ClockFollower _follower;
    bool _variable;   // the speed has left 1 in this run: resample at a variable ratio
    int _linkSection; // the link being decoded, as the library numbers it
    long _linkFrames; // frames decoded of it so far
};

} // namespace Wrappers
