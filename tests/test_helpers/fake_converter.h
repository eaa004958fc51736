#pragma once

#include "audio/converter.h"

#include <vector>

namespace TestHelpers {

// A converter that copies its input, as if every rate were the output's,
// holds nothing back, and refuses to start for the rates (or the variable
// kind) it is told to, as a library that cannot allocate would.
class FakeConverter : public Audio::Converter {
public:
    void refuseRate(double rate) { _refused.push_back(rate); }
    void refuseVariable() { _refuseVariable = true; }

    void start(double inRate, bool variable) override;
    void setSpeed(double speed, size_t) override { _speed = speed; }
    void stop() override { _active = false; }
    bool active() const override { return _active; }
    double inRate() const override { return _inRate; }
    bool variable() const override { return _variable; }
    double speed() const override { return _speed; }
    size_t process(const float* const in[2], size_t frames, size_t& used, float* out, size_t room) override;
    size_t flush(float*, size_t) override { return 0; }

private:
    std::vector<double> _refused;
    bool _refuseVariable = false;
    bool _active = false;
    double _inRate = 0;
    bool _variable = false;
    double _speed = 1.0;
};

} // namespace TestHelpers
