#include "support/thread_stats.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace Bench {

namespace {

std::vector<long> threadIds(pid_t pid)
{
    std::vector<long> ids;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (!dir)
        return ids;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            ids.push_back(std::atol(e->d_name));
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Field 22 of /proc/.../stat, the start time; the name before it, in
// parentheses, may hold spaces.
bool readStart(const std::string& folder, unsigned long long& started)
{
    std::ifstream stat(folder + "/stat");
    std::string text;
    if (!std::getline(stat, text) || text.rfind(')') == std::string::npos)
        return false;
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int field = 3; field < 22; ++field)
        fields >> skip;
    return static_cast<bool>(fields >> started);
}

// False when the thread ended while it was being read.
bool read(const std::string& folder, ThreadStats& t)
{
    std::ifstream comm(folder + "/comm");
    std::ifstream schedstat(folder + "/schedstat");
    if (!std::getline(comm, t.name) || !(schedstat >> t.cpuNs) || !readStart(folder, t.started))
        return false;
    std::ifstream status(folder + "/status");
    std::string line;
    while (std::getline(status, line)) {
        std::sscanf(line.c_str(), "voluntary_ctxt_switches: %ld", &t.voluntary);
        std::sscanf(line.c_str(), "nonvoluntary_ctxt_switches: %ld", &t.involuntary);
    }
    return true;
}

} // namespace

ProcessStats ProcessStats::of(pid_t pid)
{
    ProcessStats stats;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    for (long tid : threadIds(pid)) {
        ThreadStats t;
        t.tid = tid;
        if (read(tasks + std::to_string(tid), t))
            stats._threads.push_back(t);
    }
    std::stable_sort(stats._threads.begin(), stats._threads.end(),
                     [](const ThreadStats& a, const ThreadStats& b) { return a.started < b.started; });
    return stats;
}

double ProcessStats::cpuMsSince(const ProcessStats& earlier) const
{
    double ms = 0;
    for (const ThreadStats& t : _threads)
        ms += static_cast<double>(earlier.since(t).cpuNs) / 1e6;
    return ms;
}

ThreadStats ProcessStats::since(const ThreadStats& now) const
{
    ThreadStats delta = now;
    for (const ThreadStats& then : _threads) {
        if (then.tid != now.tid)
            continue;
        delta.cpuNs -= then.cpuNs;
        delta.voluntary -= then.voluntary;
        delta.involuntary -= then.involuntary;
    }
    return delta;
}

long peakMemoryKb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace Bench
