#pragma once

// The CPU a process has used so far, read from /proc: for benches that
// weigh a sound server's processes against the program's own.

#include <fstream>
#include <sstream>
#include <string>

namespace qinghe::bench {

// utime + stime from a /proc stat file, in clock ticks; 0 when it is gone.
inline long long cpuTicksOf(const std::string& statPath)
{
    std::ifstream stat(statPath);
    std::string line;
    std::getline(stat, line);
    if (line.empty())
        return 0;
    // The command name may hold spaces; fields count from after its ')'.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoll(field);
        if (index == 15) {
            stime = std::stoll(field);
            break;
        }
    }
    return utime + stime;
}

// Of a process, all its threads together.
inline long long cpuTicks(long long pid)
{
    return cpuTicksOf("/proc/" + std::to_string(pid) + "/stat");
}

// Of one thread of this process alone.
inline long long threadCpuTicks(long long thread)
{
    return cpuTicksOf("/proc/self/task/" + std::to_string(thread) + "/stat");
}

}  // namespace qinghe::bench
