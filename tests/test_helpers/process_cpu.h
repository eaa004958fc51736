#pragma once

#include <sys/types.h>

namespace TestHelpers {

// User plus system CPU seconds a running process has used, from
// /proc/PID/stat (clock-tick resolution); 0 when it cannot be read.
double processCpuSeconds(pid_t pid);

} // namespace TestHelpers
