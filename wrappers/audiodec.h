#pragma once

#include "audio/fill_loop.h"
#include "audio/frame_source.h"
#include "audio/gap_ledger.h"
#include "audio/sink.h"
#include "wrappers/ogg_input.h"
#include "wrappers/resampler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct OggVorbis_File;

namespace Wrappers {

class Net;

// Decodes an Ogg Vorbis stream read from a Net, over libvorbisfile, into
// full buffers of a sink (Audio::FillLoop: 44100 Hz stereo whatever each
// link carries, at the speed of the sender's clock, lost audio as silence
// of its own length). Used by one thread.
class AudioDec : private Audio::FrameSource {
public:
    // What a run played, for the line at its end.
    struct Report {
        Audio::GapLedger::Totals gaps;
        double slowest = 1.0; // the speed's range
        double fastest = 1.0;
        unsigned long pagesLost = 0; // by their sequence numbers
        unsigned long pagesRefused = 0;
        unsigned long pagesRebuilt = 0; // from the sender's repair data
        unsigned long duplicates = 0;   // datagrams or pages dropped as repeats
        unsigned long reordered = 0;    // datagrams or pages put back in order
    };

    AudioDec();
    ~AudioDec() override;
    AudioDec(const AudioDec&) = delete;
    AudioDec& operator=(const AudioDec&) = delete;

    // Opens the stream; throws Utils::AdReadError, Utils::AdDataError or
    // Utils::AdError. net and sink must outlive the opening.
    void init(Net* net, Audio::Sink* sink);
    // Decodes one full buffer and triggers the sink. Throws
    // Utils::AdReadError when the stream stalls or ends, after the frames
    // decoded so far were completed with silence and triggered;
    // Utils::NetError when the network socket failed, which no later read
    // can mend; and what the sink's trigger() throws (Utils::AudioError).
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
    Decoded decodeFrames(int most) override;
    Link link() const override;
    int64_t position() const override;
    bool positionKnown() const override;
    [[noreturn]] void openingFailed(int code);

    // The library's stream state, allocated once with the decoder so that
    // no reception run allocates it again.
    std::unique_ptr<OggVorbis_File> _vf;
    int _section;
    Net* _net;
    Audio::Sink* _sink;
    bool _initialized;
    OggInput _input;
    OggInput::Counts _closedCounts; // the input's, when the latest run's decoder was closed
    Resampler _resampler;
    Audio::FillLoop _loop;
};

} // namespace Wrappers
