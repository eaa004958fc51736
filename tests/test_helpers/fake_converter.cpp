#include "test_helpers/fake_converter.h"

#include "utils/errors.h"

#include <algorithm>

namespace TestHelpers {

void FakeConverter::start(double inRate, bool variable)
{
    if ((variable && _refuseVariable) || std::count(_refused.begin(), _refused.end(), inRate) > 0)
        throw Utils::AdError();
    _active = true;
    _inRate = inRate;
    _variable = variable;
    _speed = 1.0;
}

size_t FakeConverter::process(const float* const in[2], size_t frames, size_t& used, float* out, size_t room)
{
    used = std::min(frames, room);
    for (size_t i = 0; i < used; ++i) {
        out[2 * i] = in[0][i];
        out[2 * i + 1] = in[1][i];
    }
    return used;
}

} // namespace TestHelpers
