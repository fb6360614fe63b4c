// The real `tarvion --console` against a ZEMP server on 127.0.0.1: what it
// prints, what it says on the wire, and how it starts, retries and ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::seconds;

// "Arn.Resp:256=11800:254=10800:" as (number, value) pairs in their order.
std::vector<std::pair<int, int>> pairs_of(const std::string& line) {
  std::vector<std::pair<int, int>> pairs;
  const std::string prefix = "Arn.Resp:";
  if (line.rfind(prefix, 0) != 0) return pairs;
  size_t at = prefix.size();
  while (at < line.size()) {
    size_t eq = line.find('=', at), colon = line.find(':', at);
    if (eq == std::string::npos || colon == std::string::npos || eq > colon) break;
    pairs.emplace_back(std::stoi(line.substr(at, eq - at)),
                       std::stoi(line.substr(eq + 1, colon - eq - 1)));
    at = colon + 1;
  }
  return pairs;
}

// Connects the program to the server and reads its registration line.
struct Online {
  LoopbackServer server;
  TarvionRun run;
  std::unique_ptr<Connection> link;
  std::string registration;

  explicit Online(const std::string& extra_lines = "") : run(zemp_ini(server.port(), extra_lines)) {
    link = server.accept(seconds(10));
    if (!link) return;
    registration = link->read_line(seconds(5)).value_or("");
  }
};

TEST(TarvionConsole, StartsWithTheConfiguredTextsAndRegistersEveryVariable) {
  Online o(
      "SET_COM1=121500\nSET_COM2=124350\nSET_NAV1=11030\nSET_NAV2=10900\n"
      "SET_ADF1=3795\nSET_ADF2=2500\nSET_ATC=7000\n");
  ASSERT_TRUE(o.link) << "no connection";
  ASSERT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
#ifndef TARVION_ON_WINE
  // `tarvion --console` runs tarvion-console, which maps no GUI library: a
  // headless machine carries only what it uses.
  std::ifstream maps("/proc/" + std::to_string(o.run.process->pid()) + "/maps");
  std::string mapped((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  EXPECT_NE(mapped.find("/tarvion-console"), std::string::npos);
  EXPECT_EQ(mapped.find("libQt6"), std::string::npos);
#endif
  const auto& lines = o.run.process->out_lines();
  for (const std::string& expected :
       std::vector<std::string>{"Label2: 127.0.0.1", "Label7: " + std::to_string(o.server.port()),
                                "Label16: Disconnected"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  }

  // The registration names all seven variables, in the table's order.
  auto registered = pairs_of(o.registration);
  std::vector<int> numbers;
  for (auto [number, value] : registered) numbers.push_back(number);
  EXPECT_EQ(numbers, (std::vector<int>{256, 254, 311, 258, 257, 255, 259})) << o.registration;

  // Whatever the registration carried, the start values reach the server.
  const std::map<int, int> expected{{256, 12150}, {254, 11030}, {311, 7000}, {258, 379},
                                    {257, 12435}, {255, 10900}, {259, 250}};
  std::map<int, int> seen(registered.begin(), registered.end());
  auto deadline = std::chrono::steady_clock::now() + seconds(5);
  while (seen != expected && std::chrono::steady_clock::now() < deadline) {
    auto line = o.link->read_line(std::chrono::milliseconds(500));
    if (!line) continue;
    for (auto [number, value] : pairs_of(*line)) seen[number] = value;
  }
  EXPECT_EQ(seen, expected);
}

TEST(TarvionConsole, AnswersTheServersKeepAlive) {
  Online o;
  ASSERT_TRUE(o.link);
  o.link->send("Arn.Vivo:\r\n");
  bool answered = false;
  for (int i = 0; i < 40 && !answered; ++i) {
    auto line = o.link->read_line(std::chrono::milliseconds(250));
    answered = line && *line == "Arn.Vivo:";
  }
  EXPECT_TRUE(answered);
}

// Resident memory of a process in KiB, or -1.
long rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Sets an environment variable for the programs a test starts, until the end of the scope.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) old = v;
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old) {
      ::setenv(name.c_str(), old->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
};

TEST(TarvionConsole, KeepAliveStormCostsNoMemoryAndCannotHoldTheClose) {
  // In a sanitizer build the program's freed memory would stay resident in
  // ASan's quarantine; what is measured here is the program's own.
  const char* asan = std::getenv("ASAN_OPTIONS");
  ScopedEnv no_quarantine("ASAN_OPTIONS", std::string(asan ? asan : "") +
                                              ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
  Online o;
  ASSERT_TRUE(o.link);
  ASSERT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
  const long base = rss_kib(o.run.process->pid());
  ASSERT_GT(base, 0);
  std::string block;
  while (block.size() < (64 << 10)) block += "Arn.Vivo:\r\n";
  // Keep-alives as fast as they go; the answers are read, the last bytes kept.
  std::atomic<bool> storming{true};
  std::atomic<std::size_t> answered{0};
  std::string tail;
  std::thread peer([&] {
    auto give_up = std::chrono::steady_clock::now() + seconds(30);
    char buffer[65536];
    while (std::chrono::steady_clock::now() < give_up) {
      pollfd p{o.link->fd(), static_cast<short>(POLLIN | (storming ? POLLOUT : 0)), 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      if (p.revents & POLLIN) {
        ssize_t n = ::recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return;  // the program closed
        answered += static_cast<std::size_t>(n);
        tail.append(buffer, static_cast<std::size_t>(n));
        if (tail.size() > 64) tail.erase(0, tail.size() - 64);
      }
      if (storming && (p.revents & POLLOUT)) {
        ::send(p.fd, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      }
    }
  });
  long peak = base;
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peak = std::max(peak, rss_kib(o.run.process->pid()));
  }
  auto asked = std::chrono::steady_clock::now();
  o.run.process->signal(kCloseSignal);
  storming = false;
  std::optional<int> code = o.run.process->wait_exit(seconds(15));
  auto took = std::chrono::steady_clock::now() - asked;
  peer.join();
  EXPECT_EQ(code, 0);
  // Unbounded reads once took 150 MB and ten seconds to close here.
  EXPECT_LT(peak - base, 32 * 1024) << "KiB grown during the storm";
  EXPECT_LT(took, seconds(3));
  EXPECT_GT(answered, std::size_t{1} << 20) << "the storm was not answered";
  EXPECT_TRUE(tail.ends_with("Arn.Fin:")) << tail;
}

TEST(TarvionConsole, KeepsTryingEveryFourSecondsWhileTheServerRefuses) {
  LoopbackServer server(false);  // the port refuses
  TarvionRun run(zemp_ini(server.port()));
  // Refused attempts leave no trace to wait for: let two retry ticks (4 s and
  // 8 s after start) be refused, then open the server.
  std::this_thread::sleep_for(std::chrono::milliseconds(8500));
  ASSERT_TRUE(run.process->running());
  server.listen();
  auto opened = std::chrono::steady_clock::now();
  auto link = server.accept(seconds(8));
  ASSERT_TRUE(link) << "no attempt after the refusals";
  // The next 4 s tick, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - opened, seconds(6));
  EXPECT_TRUE(run.process->wait_out_line("Label9: Online", seconds(5)));
}

TEST(TarvionConsole, ServerResetWhileOnlineShowsDisconnectedAndReconnects) {
  Online o;
  ASSERT_TRUE(o.link);
  ASSERT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
  o.link->reset();
  EXPECT_TRUE(o.run.process->wait_out_line("Label9: Disconnected", seconds(5)));
  auto again = o.server.accept(seconds(10));
  ASSERT_TRUE(again) << "no reconnection";
  EXPECT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
  auto registration = again->read_line(seconds(5));
  ASSERT_TRUE(registration);
  EXPECT_EQ(pairs_of(*registration).size(), 7u) << *registration;
}

TEST(TarvionConsole, SignalClosesLikeTheCloseButtonGoodbyeFirstThenExitZero) {
  for (int sig : kCloseSignals) {
    SCOPED_TRACE(sig);
    Online o;
    ASSERT_TRUE(o.link);
    ASSERT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
    o.run.process->signal(sig);
    auto rest = o.link->read_to_end(seconds(10));
    ASSERT_TRUE(rest) << "the connection was not closed";
    EXPECT_TRUE(rest->ends_with("Arn.Fin:")) << *rest;
    EXPECT_EQ(o.run.process->wait_exit(seconds(10)), 0);
  }
}

TEST(TarvionConsole, SecondInstanceSaysAnotherRunsLeavesAtOnceAndTheFirstGoesOn) {
#ifdef TARVION_ON_WINE
  const std::string said =
      "Another Tarvion is already running (its window or another console); this one ends.";
#else
  const std::string said =
      "Another Tarvion is already running (its window or the tarvion service); this one ends.";
#endif
  Online o;
  ASSERT_TRUE(o.link);
  ASSERT_TRUE(o.run.process->wait_out_line("Label9: Online", seconds(5)));
  auto second = o.run.start_again();
  EXPECT_EQ(second->wait_exit(seconds(10)), 0);
  EXPECT_FALSE(second->next_out_line(seconds(1)));
  EXPECT_EQ(second->next_err_line(seconds(1)), said);
  EXPECT_FALSE(second->next_err_line(seconds(1)));
  EXPECT_TRUE(second->out_lines().empty());
  EXPECT_EQ(second->err_lines(), std::vector<std::string>{said});
  // The first one still talks to the server and still closes properly.
  ASSERT_TRUE(o.run.process->running());
  o.link->send("Arn.Vivo:\r\n");
  bool answered = false;
  for (int i = 0; i < 40 && !answered; ++i) {
    auto line = o.link->read_line(std::chrono::milliseconds(250));
    answered = line && *line == "Arn.Vivo:";
  }
  EXPECT_TRUE(answered);
  o.run.process->signal(kCloseSignal);
  EXPECT_EQ(o.run.process->wait_exit(seconds(10)), 0);
}

TEST(TarvionConsole, ConfigurationErrorsAreShownWithTheirHintAndTheProgramRunsOn) {
  // Notepad's "Unicode": UTF-16 LE with its byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("XPLANE=YES\r\nZEMP_PORT=8092\r\n")) utf16 += {c, '\0'};
  struct Case {
    const char* name;
    std::optional<std::string> ini;
    const char* error;
    std::function<std::string(const TarvionRun&)> hint;  // the line after it, if any
  };
  const Case cases[] = {
#ifdef TARVION_ON_WINE
      {"no Tarvion.ini", std::nullopt, "Error: File not found.", {}},
#else
      {"no Tarvion.ini", std::nullopt, "Error: File not found.",
       [](const TarvionRun& run) {
         return "Looked for " + run.folder.path() + "/Tarvion.ini, then " + run.config.path() +
                "/tarvion/Tarvion.ini.";
       }},
#endif
      {"port not a number",
       std::string("XPLANE=YES\nZEMP_PORT=80x\n"),
       "Error: '80X' is not a valid integer value.",
       {}},
      {"saved as UTF-16", utf16, "Error: '' is not a valid integer value.",
       [](const TarvionRun&) {
         return "Tarvion.ini is saved as UTF-16 (Unicode): save it as plain text (ANSI or "
                "UTF-8).";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TarvionRun run(c.ini);
    EXPECT_TRUE(run.process->wait_err_line(c.error, seconds(10)));
    if (c.hint) {
      EXPECT_EQ(run.process->next_err_line(seconds(5)), c.hint(run));
    }
    // Still running a good while after the error.
    EXPECT_FALSE(run.process->wait_exit(std::chrono::milliseconds(1500)));
    run.process->signal(kCloseSignal);
    EXPECT_EQ(run.process->wait_exit(seconds(10)), 0);
  }
}

#ifndef TARVION_ON_WINE
TEST(TarvionConsole, ReadsTarvionIniFromItsFolderElseFromXdgConfigHome) {
  // A menu launch starts in the home folder; the service in ~/.config/tarvion.
  LoopbackServer server;
  struct Case {
    const char* name;
    std::optional<std::string> folder_ini, config_ini;
  };
  const Case cases[] = {
      {"only in XDG_CONFIG_HOME/tarvion", std::nullopt, zemp_ini(server.port())},
      {"the folder's comes first", zemp_ini(server.port()), "ZEMP_PORT=not a port\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TarvionRun run(c.folder_ini, c.config_ini);
    auto link = server.accept(seconds(10));
    ASSERT_TRUE(link) << "no connection";
    EXPECT_TRUE(run.process->wait_out_line("Label9: Online", seconds(5)));
    EXPECT_FALSE(run.process->next_err_line(Ms(200)));
    run.process->signal(kCloseSignal);
    EXPECT_EQ(run.process->wait_exit(seconds(10)), 0);
  }
}
#endif

TEST(TarvionConsole, UnusableVirtualPanelHostIsSaidAndEndsTheProgram) {
  // Running on without the panels that were asked for would look like a fault
  // of the panels; saying so and stopping is plainer.
  LoopbackServer nobody(false);
  for (const std::string& host : {"127.0.0.1:" + std::to_string(nobody.port()),
                                  std::string("192.0.2.1:7650"), std::string("127.0.0.1")}) {
    SCOPED_TRACE(host);
    TempFolder folder, runtime;
    folder.write("Tarvion.ini", zemp_ini(nobody.port()));
    ChildProcess tarvion({TARVION_BIN, "--console"}, folder.path(),
                         {{"XDG_RUNTIME_DIR", runtime.path()}, {"TARVION_VIRTUAL_PANELS", host}});
    EXPECT_EQ(tarvion.wait_exit(seconds(10)), 1);
    auto said = tarvion.next_err_line(seconds(2));
    ASSERT_TRUE(said);
    EXPECT_TRUE(said->starts_with("tarvion: ")) << *said;
    EXPECT_FALSE(tarvion.next_out_line(seconds(1)));
  }
}

}  // namespace
}  // namespace tarvion::e2e
