#pragma once

#include "wrappers/audiodec.h"

#include <string>

namespace Server {

// What one reception run played, over all its attempts, told to an
// operator in one line on standard error when the run ends.
class RunReport {
public:
    void reset() { *this = RunReport(); }
    // After each attempt that opened the stream.
    void add(const Wrappers::AudioDec::Report& attempt);
    bool empty() const { return !_any; }
    std::string line() const;

private:
    Wrappers::AudioDec::Report _total;
    bool _any = false;
};

} // namespace Server
