// What the kernel says about a process and the machine: CPU time, thread
// context switches, memory, load; and percentiles of the samples.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e_bench {

struct ProcessTimes {
  int64_t cpu_ns = 0;             // utime + stime of all its threads
  uint64_t context_switches = 0;  // voluntary + nonvoluntary, summed over its threads
  int64_t wall_ns = 0;            // CLOCK_MONOTONIC when read
};
ProcessTimes read_process_times(pid_t pid);

// Percent of one core, and wake-ups per second, between two readings.
double cpu_percent(const ProcessTimes& from, const ProcessTimes& to);
double switches_per_second(const ProcessTimes& from, const ProcessTimes& to);

struct ProcessMemory {
  int64_t rss_kib = -1;      // VmRSS
  int64_t private_kib = -1;  // Private_Clean + Private_Dirty of smaps_rollup
  int64_t private_dirty_kib = -1;
};
ProcessMemory read_process_memory(pid_t pid);

// "1.23 0.98 0.75" from /proc/loadavg.
std::string load_average();
unsigned cpu_count();

// The p-th percentile (0..100) by nearest rank; 0 for no samples.
double percentile(std::vector<double> samples, double p);

}  // namespace e2e_bench
