#include "send/arg_walk.h"

namespace Send {

ArgWalk::ArgWalk(int argc, const char* const* argv) : _argc(argc), _argv(argv)
{
}

bool ArgWalk::value(std::string& out)
{
    if (!more())
        return false;
    out = next();
    return true;
}

} // namespace Send
