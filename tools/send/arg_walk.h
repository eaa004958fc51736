#pragma once

#include <string>

namespace Send {

// The words of a command line, one after another.
class ArgWalk {
public:
    ArgWalk(int argc, const char* const* argv);
    bool more() const { return _at < _argc; }
    std::string next() { return _argv[_at++]; }
    // The next word as an option's value; false when there is none.
    bool value(std::string& out);
    // Whether a next word is there and is no option.
    bool nextIsWord() const { return more() && _argv[_at][0] != '-'; }

private:
    int _argc;
    const char* const* _argv;
    int _at = 1;
};

} // namespace Send
