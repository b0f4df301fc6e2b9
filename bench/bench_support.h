#pragma once
// What the benchmarks that time the program from outside share: the wall
// clock, shell commands, the machine's load, rounds and medians.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

// Seconds of the real-time clock: comparable with file times.
inline double realNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Runs a shell command; a failure ends the benchmark.
inline void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::abort();
    }
}

// The load averages, as /proc/loadavg gives them.
inline std::string loadText() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// VARNHOLT_BENCH_ROUNDS, or 5.
inline int rounds() {
    const char* text = std::getenv("VARNHOLT_BENCH_ROUNDS");
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : 5;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
