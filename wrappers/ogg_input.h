#pragma once

#include "audio/intake/intake.h"
#include "audio/intake/page_arrival.h"
#include "audio/intake/page_intake.h"
#include "audio/intake/page_sink.h"
#include "audio/intake/page_store.h"
#include "wrappers/isal_repair_code.h"
#include "wrappers/ogg_page_check.h"
#include "wrappers/vorbis_header_guard.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace Wrappers {

class Net;

// The decoding library's view of the network: datagrams from a Net become
// checked pages in order (Audio::PageIntake, with the Ogg library's
// checksum, the Vorbis header guard and ISA-L's erasure code), which are
// served to the library's reads. Knowing the pages lets the decoder tell
// the end of a link from a stall. A read gives up when a stop is requested, so
// nothing that arrives can hold the decoding thread. Used by the decoding
// thread only.
class OggInput : public Audio::Intake, private Audio::PageSink {
public:
    OggInput();
    ~OggInput() override;
    OggInput(const OggInput&) = delete;
    OggInput& operator=(const OggInput&) = delete;

    // Starts afresh on net (null: no source), forgetting every byte held.
    void reset(Net* net);
    // Asked between datagrams and at least every tenth of a second while a
    // read waits; true ends the read as if nothing had come.
    void setStopCheck(std::function<bool()> stopRequested);
    // Copies at most size bytes of accepted pages into dst, waiting at most
    // timeoutMs in all for them when none are held. Returns 0 when nothing
    // came in time, and at once, a single time, when the last page served
    // ended its link and nothing more is waiting: the sender has finished
    // that link, so the decoder should not wait for more.
    size_t read(void* dst, size_t size, int timeoutMs);
    // Takes whatever waits at the socket now, without waiting. Called at
    // least once per output buffer, even while the library needs nothing,
    // so that a flood from others never fills the socket's buffer and
    // pushes out the stream's own datagrams.
    void drain() override;
    // Takes datagrams as they arrive until `until`, so that each page's
    // arrival is known to the moment. For the time the decoder would
    // otherwise only wait for the device.
    void takeUntil(std::chrono::steady_clock::time_point until) override;
    // The last page served carried the end-of-stream mark of its link.
    bool linkEnded() const override { return _linkEnded; }
    // The latest read gave up because a long run of bytes held no Ogg page.
    bool foreign() const { return _foreign; }
    // The socket failed other than by a timeout; no read will succeed again.
    bool broken() const { return _broken; }

    // The newest accepted page that carries a granule position.
    using Newest = Audio::PageArrival;
    const Newest& newest() const override { return _intake.newest(); }
    // Told of every accepted page that carries a granule position, as it
    // comes off the socket, on the decoding thread.
    void setArrivalListener(std::function<void(const Newest&)> listener)
    {
        _intake.setArrivalListener(std::move(listener));
    }
    bool stopRequested() const override { return _stopRequested && _stopRequested(); }
    // What stamps each page's arrival: when the kernel says its datagram
    // came in, unless a test runs the intake in simulated time.
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    void setClock(Now now) { _now = std::move(now); }

    // What was repaired or lost since the last reset.
    using Counts = Audio::PageIntake::Counts;
    Counts counts() const { return _intake.counts(); }

private:
    bool receive(int timeoutMs);
    bool take(int timeoutMs);
    void onPage(const unsigned char* page, size_t length) override;

    Net* _net = nullptr;
    std::function<bool()> _stopRequested;
    OggPageCheck _check;
    VorbisHeaderGuard _guard;
    IsalRepairCode _code;
    Audio::PageStore _pages; // accepted page bytes not yet served
    Audio::PageIntake _intake;
    bool _linkEnded = false; // the last page taken ended its link, and it was served whole
    bool _endReported = false;
    bool _foreign = false;
    bool _broken = false; // the transport failed other than by a timeout
    Now _now;             // empty: the transport's times
};

} // namespace Wrappers
