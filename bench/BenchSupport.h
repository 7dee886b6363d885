// Helpers shared by the benchmark programs: a wall clock, the peak resident memory, the seek
// targets that bench_component and bench_avseek both use, and the "name=value" result lines
// that bench/run.sh reads.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace bench {

inline double Now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Processor time of every thread of this process so far (user and system).
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Peak resident memory of this process in KiB (getrusage reports KiB on Linux).
inline long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// `count` seek targets in milliseconds, spread uniformly over the first 98% of `durationMs` so
// that no target falls on the last frames; the same seed gives both programs the same targets.
inline std::vector<double> SeekTargets(int count, double durationMs, std::uint64_t seed = 1) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> fraction(0.0, 0.98);
    std::vector<double> targets;
    for (int i = 0; i < count; ++i) targets.push_back(std::floor(fraction(generator) * durationMs));
    return targets;
}

// One result line: "name=value".
inline void Report(const char* name, double value) {
    std::printf("%s=%.6f\n", name, value);
}
template <std::integral Integer>
void Report(const char* name, Integer value) {
    std::printf("%s=%lld\n", name, static_cast<long long>(value));
}

}  // namespace bench
