#include "server/run_report.h"

#include "audio/format.h"

#include <algorithm>
#include <cstdio>

namespace Server {

namespace {

long long milliseconds(int64_t frames)
{
    return static_cast<long long>((frames * 1000 + Audio::sampleRate / 2) / Audio::sampleRate);
}

} // namespace

void RunReport::add(const Wrappers::AudioDec::Report& attempt)
{
    Wrappers::AudioDec::Report& t = _total;
    t.gaps.played += attempt.gaps.played;
    t.gaps.gaps += attempt.gaps.gaps;
    t.gaps.lateFrames += attempt.gaps.lateFrames;
    t.gaps.lostFrames += attempt.gaps.lostFrames;
    t.pagesLost += attempt.pagesLost;
    t.pagesRefused += attempt.pagesRefused;
    t.pagesRebuilt += attempt.pagesRebuilt;
    t.duplicates += attempt.duplicates;
    t.reordered += attempt.reordered;
    t.slowest = _any ? std::min(t.slowest, attempt.slowest) : attempt.slowest;
    t.fastest = _any ? std::max(t.fastest, attempt.fastest) : attempt.fastest;
    _any = true;
}

std::string RunReport::line() const
{
    const Wrappers::AudioDec::Report& t = _total;
    char text[512];
    std::snprintf(
        text, sizeof text,
        "AudioReceiver: played %lld frames; %ld gaps, %lld ms of silence (%lld ms late data, "
        "%lld ms lost audio); %lu pages lost or refused, %lu rebuilt; %lu duplicates dropped, %lu reordered; "
        "speed %.6f to %.6f\n",
        static_cast<long long>(t.gaps.played), t.gaps.gaps,
        milliseconds(t.gaps.lateFrames + t.gaps.lostFrames), milliseconds(t.gaps.lateFrames),
        milliseconds(t.gaps.lostFrames), t.pagesLost + t.pagesRefused, t.pagesRebuilt, t.duplicates,
        t.reordered, t.slowest, t.fastest);
    return text;
}

} // namespace Server
