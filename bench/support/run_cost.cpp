#include "support/run_cost.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace Bench {

namespace {

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

pid_t spawnQuiet(const std::string& program, std::vector<std::string> all)
{
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

RunCost runCounted(const std::string& program, const std::vector<std::string>& args)
{
    RunCost cost;
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    cost.started = std::chrono::steady_clock::now();
    const pid_t pid = spawnQuiet(program, all);
    if (pid < 0)
        return cost;
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    cost.cpuSeconds = seconds(ru.ru_utime) + seconds(ru.ru_stime);
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cost;
}

} // namespace Bench
