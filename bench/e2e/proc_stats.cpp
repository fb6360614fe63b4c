#include "proc_stats.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e_bench {
namespace {

int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// "Name:   value kB" lines of a /proc status-like file.
int64_t field_of(const std::string& file, const std::string& name) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name + ":", 0) == 0) return std::stoll(line.substr(name.size() + 1));
  }
  return -1;
}

}  // namespace

ProcessTimes read_process_times(pid_t pid) {
  ProcessTimes times;
  times.wall_ns = monotonic_ns();
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream stat(base + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The command name may hold spaces: fields count from after its ')'.
  size_t close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stoll(field);
      if (i == 15) stime = std::stoll(field);
    }
    times.cpu_ns = (utime + stime) * (1000000000LL / ::sysconf(_SC_CLK_TCK));
  }
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(base + "/task", error)) {
    const std::string status = task.path().string() + "/status";
    int64_t voluntary = field_of(status, "voluntary_ctxt_switches");
    int64_t involuntary = field_of(status, "nonvoluntary_ctxt_switches");
    if (voluntary > 0) times.context_switches += static_cast<uint64_t>(voluntary);
    if (involuntary > 0) times.context_switches += static_cast<uint64_t>(involuntary);
  }
  return times;
}

double cpu_percent(const ProcessTimes& from, const ProcessTimes& to) {
  double wall = static_cast<double>(to.wall_ns - from.wall_ns);
  return wall > 0 ? 100.0 * static_cast<double>(to.cpu_ns - from.cpu_ns) / wall : 0;
}

double switches_per_second(const ProcessTimes& from, const ProcessTimes& to) {
  double wall = static_cast<double>(to.wall_ns - from.wall_ns) / 1e9;
  return wall > 0 ? static_cast<double>(to.context_switches - from.context_switches) / wall : 0;
}

ProcessMemory read_process_memory(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  ProcessMemory memory;
  memory.rss_kib = field_of(base + "/status", "VmRSS");
  int64_t clean = field_of(base + "/smaps_rollup", "Private_Clean");
  int64_t dirty = field_of(base + "/smaps_rollup", "Private_Dirty");
  if (clean >= 0 && dirty >= 0) memory.private_kib = clean + dirty;
  memory.private_dirty_kib = dirty;
  return memory;
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

unsigned cpu_count() {
  return std::max(1u, std::thread::hardware_concurrency());
}

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<size_t>(rank, 1, samples.size()) - 1];
}

}  // namespace e2e_bench
