// e2e_bench: the real `tarvion --console` against the benchmark's own virtual
// panel host and ZEMP server over loopback; prints latency, loss, idle cost,
// memory and tick jitter with the machine's load beside them.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "bench_session.h"
#include "proc_stats.h"

namespace e2e_bench {
namespace {

struct Options {
  bool quick = false;
  std::string tarvion = TARVION_BIN;
  int samples = 300;  // latency samples; half as many transfers
  int idle_panels = 4;
  int idle_seconds = 60;
  int load_panels = 8;
  int rate = 1000;  // reports per second per panel
  int load_seconds = 10;
  int jitter_seconds = 10;
};

constexpr const char* kUsage =
    "usage: e2e_bench [--quick] [--tarvion PATH] [--samples N] [--idle-panels N]\n"
    "                 [--idle-seconds S] [--load-panels N] [--rate R] [--load-seconds S]\n"
    "                 [--jitter-seconds S]\n"
    "Runs the real tarvion in console mode against virtual COM panels and a ZEMP\n"
    "server played by this program over loopback, and prints the figures.\n"
    "--quick: a few seconds with small counts, to prove it works.\n";

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a == "--quick") {
      o.quick = true;
      o.samples = 20;
      o.idle_panels = 2;
      o.idle_seconds = 1;
      o.load_panels = 3;
      o.rate = 200;
      o.load_seconds = 1;
      o.jitter_seconds = 1;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string v = argv[++i];
    int* number = a == "--samples"          ? &o.samples
                  : a == "--idle-panels"    ? &o.idle_panels
                  : a == "--idle-seconds"   ? &o.idle_seconds
                  : a == "--load-panels"    ? &o.load_panels
                  : a == "--rate"           ? &o.rate
                  : a == "--load-seconds"   ? &o.load_seconds
                  : a == "--jitter-seconds" ? &o.jitter_seconds
                                            : nullptr;
    if (a == "--tarvion") {
      o.tarvion = v;
    } else if (number == nullptr || (*number = std::atoi(v.c_str())) <= 0) {
      return false;
    }
  }
  return true;
}

std::string ms(double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  return text;
}

std::string fixed(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

std::string spread(const std::vector<double>& ns, int misses) {
  return "p50 " + ms(percentile(ns, 50)) + ", p99 " + ms(percentile(ns, 99)) + ", min " +
         ms(percentile(ns, 0)) + ", max " + ms(percentile(ns, 100)) +
         " (n=" + std::to_string(ns.size()) +
         (misses ? ", " + std::to_string(misses) + " no answer" : "") + ")";
}

// Waits a random part of a tick, so the samples fall on every phase of it.
void random_pause(BenchSession& s, std::mt19937& random, int from_ms, int to_ms) {
  int64_t until = wall_ns() + 1000 * int64_t{std::uniform_int_distribution<int>(
                                         from_ms * 1000, to_ms * 1000)(random)};
  while (wall_ns() < until && s.alive()) s.pump_ns(until - wall_ns());
}

struct Row {
  std::string metric, figure;
  bool ok;
  std::string load = load_average();  // when the row's phase ended
};

// Knob report -> changed display image on panel 1.
Row knob_to_display(BenchSession& s, const Options& o, std::mt19937& random) {
  std::vector<double> latencies;
  int misses = 0;
  for (int i = 0; i < o.samples && s.alive(); ++i) {
    int64_t seen = -1;
    s.on_output = [&seen](size_t panel, bool changed, int64_t at) {
      if (panel == 0 && changed && seen < 0) seen = at;
    };
    s.send(s.turn(0));
    int64_t sent = s.last_send_ns();
    if (s.pump_until([&] { return seen >= 0; }, 2000)) {
      latencies.push_back(static_cast<double>(seen - sent));
    } else {
      ++misses;
    }
    s.on_output = nullptr;
    random_pause(s, random, 0, 25);
  }
  return {"knob report → display output", spread(latencies, misses), !latencies.empty() && !misses};
}

// Transfer press -> the values line on the server's socket.
Row transfer_to_zemp(BenchSession& s, const Options& o, std::mt19937& random) {
  std::vector<double> latencies;
  int misses = 0;
  for (int i = 0; i < std::max(5, o.samples / 2) && s.alive(); ++i) {
    // A standby other than the active first, so the transfer changes the
    // active frequency and the server is told.
    auto& panel = s.panels()[0];
    for (int turns = 0; turns < 3 && (turns == 0 || panel.standby_mhz == panel.active_mhz);
         ++turns) {
      bool changed = false;
      s.on_output = [&changed](size_t index, bool c, int64_t) { changed |= index == 0 && c; };
      s.send(s.turn(0));
      s.pump_until([&] { return changed; }, 2000);
      s.on_output = nullptr;
    }
    random_pause(s, random, 0, 25);
    size_t before = s.zemp_values_ns.size();
    s.send(s.swap(0, true));
    int64_t sent = s.last_send_ns();
    if (s.pump_until([&] { return s.zemp_values_ns.size() > before; }, 2000)) {
      latencies.push_back(static_cast<double>(s.zemp_values_ns[before] - sent));
    } else {
      ++misses;
    }
    s.send(s.swap(0, false));
    random_pause(s, random, 25, 50);  // the release is seen before the next press
  }
  return {"knob/transfer → ZEMP bytes on the wire", spread(latencies, misses),
          !latencies.empty() && !misses};
}

std::string memory_figure(const ProcessMemory& memory) {
  return "RSS " + fixed(static_cast<double>(memory.rss_kib) / 1024, 1) + " MB, private " +
         fixed(static_cast<double>(memory.private_kib) / 1024, 1) + " MB (dirty " +
         fixed(static_cast<double>(memory.private_dirty_kib) / 1024, 1) + " MB)";
}

// The window program on the display the benchmark runs under (xvfb-run gives one).
Row window_memory(const Options& o) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return {"memory, window mode", "not measured: no DISPLAY", true};
  BenchSession w(o.tarvion, 30000, display);
  std::string error;
  if (!w.start(o.idle_panels, error)) return {"memory, window mode", error, false};
  w.settle(300, 3000);
  ProcessMemory memory = read_process_memory(w.pid());
  bool closed = w.stop() == 0;
  return {"memory, window mode, " + std::to_string(o.idle_panels) + " panels",
          memory_figure(memory), memory.rss_kib > 0 && closed};
}

Row idle(BenchSession& s, const Options& o, ProcessMemory& memory) {
  s.settle(300, 3000);
  memory = read_process_memory(s.pid());
  ProcessTimes from = read_process_times(s.pid());
  s.pump_until([] { return false; }, o.idle_seconds * 1000);
  ProcessTimes to = read_process_times(s.pid());
  return {"idle CPU, " + std::to_string(o.idle_panels) + " panels, connected peer, no input, " +
              std::to_string(o.idle_seconds) + " s",
          fixed(cpu_percent(from, to), 2) + " % of a core, " +
              fixed(switches_per_second(from, to), 1) + " thread wake-ups/s",
          s.alive()};
}

// Reports per panel sent back to back at most, when this program is late.
constexpr int64_t kMostAtOnce = 4;

Row lost_detents(BenchSession& s, const Options& o) {
  if (o.load_panels > static_cast<int>(s.panels().size()))
    s.add_panels(o.load_panels - static_cast<int>(s.panels().size()));
  auto& panels = s.panels();
  s.pump_until(
      [&] {
        for (const auto& p : panels)
          if (!p.standby_mhz) return false;
        return true;
      },
      10000);
  s.settle(300, 3000);
  std::vector<int> start_mhz, start_offset;
  for (const auto& p : panels) {
    start_mhz.push_back(p.standby_mhz.value_or(-1));
    start_offset.push_back(p.offset);
  }
  const int64_t period = 1000000000LL / o.rate;
  const int64_t slots = int64_t{o.rate} * o.load_seconds;
  ProcessTimes from = read_process_times(s.pid());
  const int64_t start = wall_ns();
  int64_t begin = start;
  uint64_t sent = 0;
  int64_t deferred = 0;  // slots the schedule moved on by
  for (int64_t slot = 0; slot < slots && s.alive();) {
    // The slots due now, one report per panel each, all in one write. When this program fell behind
    // (a loaded machine) the schedule moves on instead: a real panel never sends a burst.
    int64_t due = std::clamp<int64_t>((wall_ns() - begin) / period + 1 - slot, 0, slots - slot);
    if (due > kMostAtOnce) {
      begin += (due - kMostAtOnce) * period;
      deferred += due - kMostAtOnce;
      due = kMostAtOnce;
    }
    std::string lines;
    for (int64_t k = 0; k < due; ++k, ++slot) {
      for (size_t i = 0; i < panels.size(); ++i) lines += s.turn(i);
      sent += panels.size();
    }
    if (!lines.empty()) s.send(lines);
    s.pump_ns(begin + slot * period - wall_ns());
  }
  double seconds = static_cast<double>(wall_ns() - start) / 1e9;
  ProcessTimes to = read_process_times(s.pid());
  s.settle(500, 5000);
  int total = 0;
  std::string per_panel;
  bool ok = s.alive();
  for (size_t i = 0; i < panels.size(); ++i) {
    int net = panels[i].offset - start_offset[i];
    int error = panels[i].standby_mhz && start_mhz[i] >= 0
                    ? detent_error(start_mhz[i], net, *panels[i].standby_mhz)
                    : 0;
    ok = ok && panels[i].standby_mhz && start_mhz[i] >= 0;
    total += std::abs(error);
    per_panel +=
        (i ? " " : "") + panels[i].id + ":" + (error > 0 ? "+" : "") + std::to_string(error);
  }
  return {"lost detents, " + std::to_string(panels.size()) + " panels × " + std::to_string(o.rate) +
              " reports/s × " + std::to_string(o.load_seconds) + " s",
          std::to_string(total) + " miscounted (" + per_panel + "); " + std::to_string(sent) +
              " reports sent at " + fixed(static_cast<double>(sent) / seconds, 0) +
              "/s (schedule slipped " + fixed(static_cast<double>(deferred * period) / 1e6, 0) +
              " ms); tarvion CPU " + fixed(cpu_percent(from, to), 1) + " % of a core",
          ok};
}

// Spacing of panel 1's display outputs under steady input (a detent every
// 5 ms) while a thread of this program keeps a core busy.
Row jitter(BenchSession& s, const Options& o) {
  std::atomic<bool> stop{false};
  std::thread busy([&stop] {
    volatile uint64_t spin = 0;
    while (!stop.load(std::memory_order_relaxed)) spin = spin + 1;
  });
  std::vector<int64_t> arrivals;
  s.on_output = [&arrivals](size_t panel, bool, int64_t at) {
    if (panel == 0) arrivals.push_back(at);
  };
  int64_t begin = wall_ns(), end = begin + int64_t{o.jitter_seconds} * 1000000000;
  for (int64_t next = begin; wall_ns() < end && s.alive(); next += 5000000) {
    s.send(s.turn(0));
    s.pump_ns(next + 5000000 - wall_ns());
    while (wall_ns() < next + 5000000) s.pump_ns(next + 5000000 - wall_ns());
  }
  s.on_output = nullptr;
  stop = true;
  busy.join();
  std::vector<double> spacing, deviation;
  for (size_t i = 1; i < arrivals.size(); ++i)
    spacing.push_back(static_cast<double>(arrivals[i] - arrivals[i - 1]));
  double median = percentile(spacing, 50);
  for (double d : spacing) deviation.push_back(std::abs(d - median));
  return {"tick jitter p99, the other core busy",
          ms(percentile(deviation, 99)) + " (display outputs every " + ms(median) +
              " p50, max deviation " + ms(percentile(deviation, 100)) +
              ", n=" + std::to_string(spacing.size()) + ")",
          spacing.size() >= 10};
}

int run(const Options& o) {
  std::printf(
      "Tarvion end-to-end benchmark: %s --console, virtual COM panels and ZEMP server over "
      "loopback\n",
      o.tarvion.c_str());
  std::printf("machine: %u CPUs, load average %s (1/5/15 min) at start\n", cpu_count(),
              load_average().c_str());
  std::printf(
      "run: %s, %d latency samples, idle %d panels × %d s, load %d panels × %d reports/s × %d s, "
      "jitter %d s\n\n",
      o.quick ? "quick" : "full", o.samples, o.idle_panels, o.idle_seconds, o.load_panels, o.rate,
      o.load_seconds, o.jitter_seconds);
  std::fflush(stdout);
  BenchSession s(o.tarvion, 30000);
  std::string error;
  if (!s.start(o.idle_panels, error)) {
    std::printf("table incomplete: %s\n", error.c_str());
    return 1;
  }
  std::mt19937 random(12345);
  std::vector<Row> rows;
  ProcessMemory memory;
  rows.push_back(knob_to_display(s, o, random));
  rows.push_back(transfer_to_zemp(s, o, random));
  rows.push_back(idle(s, o, memory));
  rows.push_back({"memory, console mode", memory_figure(memory),
                  memory.rss_kib > 0 && memory.private_kib > 0});
  rows.push_back(lost_detents(s, o));
  rows.push_back(jitter(s, o));
  rows.push_back(window_memory(o));
  std::printf("| metric | figure | load average after |\n|---|---|---|\n");
  bool complete = true;
  for (const Row& row : rows) {
    std::printf("| %s | %s%s | %s |\n", row.metric.c_str(),
                row.ok ? "" : "FAILED: ", row.figure.c_str(), row.load.c_str());
    complete = complete && row.ok;
  }
  std::printf(
      "\nload average %s at the end; %llu reads without a kernel receive time (bytes "
      "that came before the socket asked for times)\n",
      load_average().c_str(), static_cast<unsigned long long>(s.untimed_reads()));
  std::printf("tarvion closed on SIGTERM with status %d\n", s.stop());
  std::printf(complete ? "table complete\n" : "table incomplete\n");
  return complete ? 0 : 1;
}

}  // namespace
}  // namespace e2e_bench

int main(int argc, char** argv) {
  e2e_bench::Options options;
  if (!e2e_bench::parse(argc, argv, options)) {
    std::fputs(e2e_bench::kUsage, stderr);
    return 2;
  }
  return e2e_bench::run(options);
}
