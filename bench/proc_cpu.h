#ifndef TRACKPOST_BENCH_PROC_CPU_H
#define TRACKPOST_BENCH_PROC_CPU_H

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// User plus system time, in clock ticks, from a /proc stat file (a process's or a thread's);
// -1 when it can't be read.
inline long long procStatTicks(const std::string& statPath) {
    std::ifstream statFile(statPath);
    std::string stat;
    std::getline(statFile, stat);
    // The name in parentheses may hold spaces; the fields after it are plain.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long long ticks = 0;
    // After the name: state is field 3, utime 14, stime 15.
    for (int n = 3; n <= 15 && fields >> field; ++n)
        if (n == 14 || n == 15) ticks += std::atoll(field.c_str());
    return ticks;
}

#endif
