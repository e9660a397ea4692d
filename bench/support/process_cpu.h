#pragma once

// The CPU a process has used so far, read from /proc: for benches that
// weigh a sound server's processes against the program's own.

#include <fstream>
#include <sstream>
#include <string>

namespace qinghe::bench {

// utime + stime of a process, in clock ticks; 0 when it is gone.
inline long long cpuTicks(long long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
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

}  // namespace qinghe::bench
