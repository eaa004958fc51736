// The stream decoder fed whatever may arrive on the audio port. An input is
// a sequence of datagrams, each a two-byte little-endian length and that
// many bytes (a length past the end takes what is left); the seeds are real
// streams cut that way, so libFuzzer's cuts, splices, repeats and flipped
// bytes make broken, mixed and hostile streams of them. The decoder opens
// the stream and decodes until the datagrams are used up, into a sink that
// only keeps its clock and lends a moment at each hand-over, so that
// following the sender's clock, the intake while the device plays, the
// holes and the cushion run as they do when playing. What it prints is sent to
// /dev/null while decoding, unless VELDRANE_FUZZ_VERBOSE is set (to see a
// crash's report when replaying it).
#include "test_helpers/memory_net.h"
#include "test_helpers/recording_sink.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/net.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<TestHelpers::Bytes> datagrams(const uint8_t* data, size_t size)
{
    std::vector<TestHelpers::Bytes> out;
    for (size_t at = 0; at + 2 <= size;) {
        size_t n = data[at] | size_t(data[at + 1]) << 8;
        at += 2;
        if (n > size - at)
            n = size - at;
        out.emplace_back(data + at, data + at + n);
        at += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One sink and one decoder for every input, as in a long-running
    // receiver: each opening must start clean from whatever came before.
    static TestHelpers::RecordingSink sink = [] {
        TestHelpers::RecordingSink s(8192, false);
        s.lendTime(std::chrono::milliseconds(1));
        return s;
    }();
    static Wrappers::AudioDec dec;
    static const bool verbose = std::getenv("VELDRANE_FUZZ_VERBOSE") != nullptr;
    static const int devNull = ::open("/dev/null", O_WRONLY);
    static const int savedOut = ::dup(1), savedErr = ::dup(2);

    auto* memory = new TestHelpers::MemoryNet(datagrams(data, size));
    memory->setRecordRequests(false);
    Wrappers::Net net(memory);
    try {
        dec.init(&net, &sink);
    } catch (const Utils::AdError&) {
        return 0; // the opening failed: a reason of its own to retry
    }
    if (!verbose) {
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
    }
    // The bound only guards against a decoder that never runs dry.
    for (int calls = 0; calls < 10000; ++calls) {
        try {
            dec.decode();
        } catch (const Utils::AdError&) {
            if (memory->pending() == 0)
                break;
        }
    }
    dec.close();
    if (!verbose) {
        ::dup2(savedOut, 1);
        ::dup2(savedErr, 2);
    }
    return 0;
}
