#include "support/gstreamer_peer.h"

#include "test_helpers/loopback.h"
#include "test_helpers/wait.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace std::chrono_literals;

namespace Bench {

namespace {

const char* const gstLaunch = "/usr/bin/gst-launch-1.0";

} // namespace

SecondSink::SecondSink()
{
    const std::string load = std::string("pactl load-module module-null-sink sink_name=") + name
                             + " rate=44100 channels=2 format=float32le norewinds=1";
    FILE* out = popen(load.c_str(), "r");
    if (out && std::fscanf(out, "%d", &_module) != 1)
        _module = -1;
    if (out)
        pclose(out);
}

SecondSink::~SecondSink()
{
    if (_module >= 0 && std::system(("pactl unload-module " + std::to_string(_module)).c_str()) != 0)
        std::fprintf(stderr, "the second null sink stays loaded: module %d\n", _module);
}

GStreamerPeer::GStreamerPeer(bool synchronised)
    : _gst(gstLaunch,
           {"-q", "udpsrc", "port=" + std::to_string(port), "caps=application/ogg", "!", "oggdemux", "!",
            "vorbisdec", "!", "audioconvert", "!", "audioresample", "!", "pulsesink",
            synchronised ? "sync=true" : "sync=false", std::string("device=") + SecondSink::name})
{
}

GStreamerPeer::~GStreamerPeer()
{
    _gst.terminate();
    TestHelpers::waitFor([] { return TestHelpers::portFree(port); }, 5s);
}

bool GStreamerPeer::listening() const
{
    return TestHelpers::waitFor([] { return !TestHelpers::portFree(port); }, 10s);
}

} // namespace Bench
