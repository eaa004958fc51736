#include "test_helpers/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace TestHelpers {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& x : extra)
            if (x.substr(0, x.find('=')) == name)
                replaced = true;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (auto& s : strings)
        p.push_back(&s[0]);
    p.push_back(nullptr);
    return p;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("pipe2 failed");
    }

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = mergedEnvironment(extraEnv);
    std::vector<char*> argv = pointers(argStrings);
    std::vector<char*> envp = pointers(envStrings);

    // posix_spawn rather than fork: the test process has threads.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The child starts with default signal handling and an empty mask,
    // whatever the test process has set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = posix_spawn(&_pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    _outReader = std::thread([this, fd = out[0]] { readLoop(fd, Stream::Out); });
    _errReader = std::thread([this, fd = err[0]] { readLoop(fd, Stream::Err); });
}

ChildProcess::~ChildProcess()
{
    terminate();
    // The pipes normally reach end of file with the child; the flag only
    // matters if something the child started still holds them open.
    _stopReading = true;
    _outReader.join();
    _errReader.join();
}

void ChildProcess::readLoop(int fd, Stream stream)
{
    std::string partial;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, _stopReading ? 0 : 100);
        if (r == 0) {
            if (_stopReading)
                break;
            continue;
        }
        if (r < 0)
            break;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        partial.append(buf, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(_linesMutex);
        size_t start = 0;
        size_t nl;
        while ((nl = partial.find('\n', start)) != std::string::npos) {
            _lines.push_back(Line{stream, partial.substr(start, nl - start)});
            start = nl + 1;
        }
        partial.erase(0, start);
        _linesChanged.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(_linesMutex);
    if (!partial.empty())
        _lines.push_back(Line{stream, partial});
    --_openPipes;
    _linesChanged.notify_all();
}

bool ChildProcess::matches(const Line& line, const std::string& substring, Stream stream) const
{
    return (stream == Stream::Any || line.stream == stream) && line.text.find(substring) != std::string::npos;
}

bool ChildProcess::waitForLine(const std::string& substring, std::chrono::milliseconds timeout, Stream stream)
{
    return waitForCount(substring, 1, timeout, stream);
}

bool ChildProcess::waitForCount(const std::string& substring, int count, std::chrono::milliseconds timeout,
                                Stream stream)
{
    std::unique_lock<std::mutex> lock(_linesMutex);
    return _linesChanged.wait_for(lock, timeout, [&] {
        int n = 0;
        for (const auto& line : _lines)
            if (matches(line, substring, stream))
                ++n;
        return n >= count;
    });
}

std::vector<std::string> ChildProcess::lines(Stream stream) const
{
    std::lock_guard<std::mutex> lock(_linesMutex);
    std::vector<std::string> result;
    for (const auto& line : _lines)
        if (stream == Stream::Any || line.stream == stream)
            result.push_back(line.text);
    return result;
}

int ChildProcess::countLines(const std::string& substring, Stream stream) const
{
    std::lock_guard<std::mutex> lock(_linesMutex);
    int n = 0;
    for (const auto& line : _lines)
        if (matches(line, substring, stream))
            ++n;
    return n;
}

bool ChildProcess::reap(bool block)
{
    std::lock_guard<std::mutex> lock(_reapMutex);
    if (_reaped)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == _pid) {
        _status = status;
        _reaped = true;
    }
    return _reaped;
}

bool ChildProcess::isRunning()
{
    return !reap(false);
}

int ChildProcess::status()
{
    reap(false);
    std::lock_guard<std::mutex> lock(_reapMutex);
    return _status;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The readers may still hold the last lines the child wrote; they reach
    // end of file soon after it ended (unless something it started keeps
    // the pipes open, which the deadline covers).
    std::unique_lock<std::mutex> lock(_linesMutex);
    _linesChanged.wait_until(lock, deadline, [this] { return _openPipes == 0; });
    return true;
}

int ChildProcess::terminate(std::chrono::milliseconds grace)
{
    if (!reap(false)) {
        kill(_pid, SIGTERM);
        if (!waitForExit(grace)) {
            kill(_pid, SIGKILL);
            reap(true);
        }
    }
    return status();
}

Finished runToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& extraEnv, std::chrono::milliseconds timeout)
{
    ChildProcess child(program, args, extraEnv);
    Finished result;
    if (child.waitForExit(timeout) && WIFEXITED(child.status()))
        result.exitCode = WEXITSTATUS(child.status());
    result.out = child.lines(ChildProcess::Stream::Out);
    result.err = child.lines(ChildProcess::Stream::Err);
    return result;
}

} // namespace TestHelpers
