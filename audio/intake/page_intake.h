#pragma once

#include "audio/intake/datagram_window.h"
#include "audio/intake/ogg_page_filter.h"
#include "audio/intake/page_arrival.h"
#include "audio/intake/page_framer.h"
#include "audio/intake/page_order.h"
#include "audio/intake/page_sink.h"
#include "audio/intake/repair_stage.h"

#include <chrono>
#include <cstddef>
#include <functional>

namespace Audio {

class PageCheck;
class PageGate;
class PageRoom;
class RepairCode;

// Where a datagram becomes pages: the stream's datagrams go in, and the
// pages the decoder may read come out to `out`, checked, whole, in
// sequence order, with what the network repeated, swapped or lost put
// right where it can be:
//   DatagramWindow, PageFramer: pages framed out of datagrams cut anywhere
//   PageOrder:                  in sequence order, repeats dropped
//   RepairStage:                lost pages rebuilt from repair data
//   OggPageFilter, PageGate:    let through to the decoding library or refused
// and each page's arrival noted for following the sender's clock. Used by
// the decoding thread only.
class PageIntake : private PageSink {
public:
    using Clock = std::chrono::steady_clock;

    // room: where `out` lets pages cut across datagrams be put together, so
    // that it need not copy them; none: they are put together here.
    PageIntake(PageSink& out, PageCheck& check, PageGate& gate, RepairCode& code, PageRoom* room = nullptr);

    // Forgets every byte held; counts start again.
    void reset();
    // Where the next datagram goes: DatagramWindow::maxDatagram bytes.
    unsigned char* room() { return _window.room(); }
    // A datagram of `size` bytes has come, at `now`.
    void commit(std::size_t size, Clock::time_point now);
    // Nothing came for a while: what was held for a swapped neighbour goes.
    void settle(Clock::time_point now);
    // The decoder has nothing else to read: gaps held for repair are given up.
    void starve();
    // A gap is held for its repair.
    bool holding() const { return _repair.holding(); }

    // Bytes given up since the last page taken.
    std::size_t lostBytes() const { return _framer.lostBytes(); }
    void forgetLost() { _framer.forgetLost(); }
    // Every stream of the current link has sent its last page.
    bool linkEnded() const { return _filter.linkEnded(); }

    // The newest page let through that carries a granule position.
    const PageArrival& newest() const { return _newest; }
    // Told of every such page, as it comes off the socket.
    void setArrivalListener(std::function<void(const PageArrival&)> listener)
    {
        _arrived = std::move(listener);
    }

    // What was repaired or lost since the last reset.
    struct Counts {
        unsigned long duplicates = 0;   // datagrams or pages dropped as repeats
        unsigned long reordered = 0;    // datagrams or pages put back in order
        unsigned long pagesLost = 0;    // gaps in a stream's page sequence never filled
        unsigned long pagesRefused = 0; // pages the filter refused
        unsigned long pagesRebuilt = 0; // lost pages rebuilt from repair data
    };
    Counts counts() const;

private:
    void onPage(const unsigned char* page, std::size_t length) override;
    void noteNewest(const unsigned char* page, Clock::time_point taken);
    void afterPages();

    PageSink& _out;
    PageGate& _gate;
    PageRoom* _room;
    RepairStage _repair; // before the stages that feed it
    DatagramWindow _window;
    PageOrder _order;
    PageFramer _framer;
    OggPageFilter _filter;
    PageArrival _newest;
    std::function<void(const PageArrival&)> _arrived;
    unsigned long _refused = 0;
};

} // namespace Audio
