#pragma once

#include "test_helpers/child_process.h"

#include <sys/types.h>

namespace Bench {

// A null sink of the sound server's for the GStreamer pipeline alone. On
// the receiver's sink the two streams would set the sink's pace together,
// and the pipeline would wake half as often as it does when it plays alone.
class SecondSink {
public:
    SecondSink();
    ~SecondSink();
    SecondSink(const SecondSink&) = delete;
    SecondSink& operator=(const SecondSink&) = delete;

    bool loaded() const { return _module >= 0; }

    static constexpr const char* name = "veldrane_bench_gstreamer";

private:
    int _module = -1;
};

// The GStreamer pipeline that the receiver's playing figures are set
// beside (udpsrc ! oggdemux ! vorbisdec ! audioconvert ! audioresample !
// pulsesink), listening on its own port and playing on SecondSink. Its
// sink is synchronised to the pipeline's clock, as a player's is: it plays
// each buffer at its time stamp, counted from the moment the pipeline began
// to play, and drops as late what comes after that moment. Start it just
// before its stream: one started a second early played nothing.
class GStreamerPeer {
public:
    static constexpr int port = 6667;

    // synchronised false: its sink plays each buffer as it comes, which
    // drops nothing of a stream sent with no lead, and wakes far more often.
    explicit GStreamerPeer(bool synchronised = true);
    ~GStreamerPeer();
    GStreamerPeer(const GStreamerPeer&) = delete;
    GStreamerPeer& operator=(const GStreamerPeer&) = delete;

    // Waits until its port is open.
    bool listening() const;
    pid_t pid() const { return _gst.pid(); }

private:
    TestHelpers::ChildProcess _gst;
};

} // namespace Bench
