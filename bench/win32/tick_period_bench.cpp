// tick_period_bench: the real period of a 20 ms TThreadedTimer on the Windows
// program's own main thread, with the waitable-timer wait the programs use
// and with the plain condition-variable wait beside it. On Windows 10 2004
// and later the plain wait shows the 15.6 ms system tick (about 31 ms);
// Wine's waits are exact, so there both read about 20 ms.
// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/win32/win32_main_thread.h"
#include "platform/win32/win32_timer_wait.h"
#include "shell/threaded_timer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The gaps between ticks in milliseconds, or fewer than asked for when the
// timer stalled (the table then says so).
std::vector<double> measure(tarvion::Win32MainThread& main_thread,
                            const tarvion::TimerWaitMaker& wait_maker, size_t ticks) {
  std::vector<Clock::time_point> at;
  tarvion::TThreadedTimer timer(main_thread, {}, {}, wait_maker);
  timer.SetInterval(20);
  timer.SetOnTimer([&] { at.push_back(Clock::now()); });
  timer.SetEnabled(true);
  auto bound = Clock::now() + std::chrono::milliseconds(100 * ticks + 2000);
  main_thread.pump_until([&] { return at.size() > ticks || Clock::now() >= bound; });
  timer.SetEnabled(false);
  std::vector<double> gaps;
  for (size_t i = 1; i < at.size(); ++i) {
    gaps.push_back(std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count());
  }
  return gaps;
}

bool print_row(const char* name, std::vector<double> gaps, size_t wanted) {
  if (gaps.size() < wanted) {
    std::printf("%-28s table incomplete: %zu of %zu ticks\n", name, gaps.size(), wanted);
    return false;
  }
  std::sort(gaps.begin(), gaps.end());
  double sum = 0;
  for (double g : gaps) sum += g;
  auto at = [&](double q) { return gaps[static_cast<size_t>(q * (gaps.size() - 1))]; };
  std::printf("%-28s %6zu %9.2f %9.2f %9.2f %9.2f\n", name, gaps.size(), sum / gaps.size(), at(0.5),
              at(0.99), gaps.back());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t ticks = 250;  // five seconds per row
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      ticks = 20;
    } else {
      std::fprintf(stderr, "usage: tick_period_bench [--quick]\n");
      return 2;
    }
  }
  tarvion::Win32MainThread main_thread;
  tarvion::Win32TimerWait probe;
  std::printf("20 ms TThreadedTimer, period between ticks in ms (waitable timer: %s)\n",
              !probe.usable()           ? "none"
              : probe.high_resolution() ? "high resolution"
                                        : "plain, system tick raised to 1 ms");
  std::printf("%-28s %6s %9s %9s %9s %9s\n", "wait", "ticks", "mean", "p50", "p99", "max");
  bool whole = print_row("waitable timer (programs)",
                         measure(main_thread, tarvion::make_win32_timer_wait, ticks), ticks);
  whole &= print_row("condition variable", measure(main_thread, {}, ticks), ticks);
  return whole ? 0 : 1;
}
