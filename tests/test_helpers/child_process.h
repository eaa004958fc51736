#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TestHelpers {

// A program run as a child of the test, for whole-program tests. Standard
// input is /dev/null; standard output and standard error are read by two
// threads into line lists as the child writes them. The destructor ends
// the child (SIGTERM, then SIGKILL after a grace period) and reaps it.
class ChildProcess {
public:
    enum class Stream { Out, Err, Any };

    // extraEnv entries are "NAME=value"; they are added to (or replace in)
    // the test's own environment. Throws std::runtime_error if the program
    // cannot be started.
    explicit ChildProcess(const std::string& program, const std::vector<std::string>& args = {},
                          const std::vector<std::string>& extraEnv = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return _pid; }
    bool isRunning();

    // Waits until a line containing substring has been written (the line
    // may already be there). Returns false at the deadline.
    bool waitForLine(const std::string& substring, std::chrono::milliseconds timeout,
                     Stream stream = Stream::Any);
    bool waitForStdout(const std::string& substring, std::chrono::milliseconds timeout)
    {
        return waitForLine(substring, timeout, Stream::Out);
    }
    bool waitForStderr(const std::string& substring, std::chrono::milliseconds timeout)
    {
        return waitForLine(substring, timeout, Stream::Err);
    }
    // Waits until at least count lines contain substring.
    bool waitForCount(const std::string& substring, int count, std::chrono::milliseconds timeout,
                      Stream stream = Stream::Any);

    // Lines so far without their "\n", in the order they were read (the
    // order between the two streams is only as exact as the reading).
    std::vector<std::string> lines(Stream stream = Stream::Any) const;
    int countLines(const std::string& substring, Stream stream = Stream::Any) const;

    // Sends SIGTERM, waits up to grace, then SIGKILL; reaps the child and
    // returns its wait status. Harmless when it has already ended.
    int terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    // Waits for the child to end on its own, and for the last of its output
    // to be read; returns false at the deadline.
    bool waitForExit(std::chrono::milliseconds timeout);
    // Wait status once the child has been reaped, -1 before.
    int status();

private:
    struct Line {
        Stream stream;
        std::string text;
    };

    void readLoop(int fd, Stream stream);
    bool reap(bool block);
    bool matches(const Line& line, const std::string& substring, Stream stream) const;

    pid_t _pid = -1;
    int _status = -1;
    bool _reaped = false;
    std::mutex _reapMutex;

    mutable std::mutex _linesMutex;
    std::condition_variable _linesChanged;
    std::vector<Line> _lines;
    int _openPipes = 2; // not yet at end of file; guarded by _linesMutex
    std::atomic<bool> _stopReading{false};

    std::thread _outReader;
    std::thread _errReader;
};

// A program run to its end, for programs that answer and exit.
struct Finished {
    int exitCode = -1; // -1 when it did not exit normally before the deadline
    std::vector<std::string> out;
    std::vector<std::string> err;
};
Finished runToEnd(const std::string& program, const std::vector<std::string>& args = {},
                  const std::vector<std::string>& extraEnv = {},
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(30000));

} // namespace TestHelpers
