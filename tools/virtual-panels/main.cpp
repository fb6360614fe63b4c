// virtual-panels: a stand-in for Pendra panels on USB. Tarvion connects to it
// when started with TARVION_VIRTUAL_PANELS=127.0.0.1:PORT.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "panel_host.h"
#include "recording.h"
#ifdef VIRTUAL_PANELS_WINDOW
#include "cockpit_window.h"
#endif

namespace {

const char* const kUsage =
    "usage: virtual-panels [--port N] [--script FILE | --demo] [--no-stdin] [--panels KIND,...]\n"
    "                      [--window | --no-window] [--record FILE] [--trace-window] "
    "[ID=]KIND:DRIVER-KEY[:NAME]...\n"
    "  --window draws the panels in a window (the default when there is a display and\n"
    "    no --script); --no-window keeps to this terminal view\n"
    "  --record FILE writes every input and output report, timed, as a script that\n"
    "    --script replays (it fails where Tarvion's output differs); saved at the end\n"
    "    (quit, Ctrl-C, SIGTERM, the window closed)\n"
    "  --trace-window prints 'drawn ID DIGITS...' each time the window has drawn\n"
    "    something new and 'control ID NAME X Y' where each control sits in it\n"
    "  in the window: wheel or drag a knob (outer ring, inner cap), click buttons and\n"
    "    switches; keys for the panel clicked last are in its tooltip\n"
    "  KIND: multi switch com nav adf xpdr rmp (or 8, 12..17)\n"
    "  --panels plugs one panel of each kind listed, driver keys 0001, 0002, ...\n"
    "  --demo turns the knobs and presses transfer on every radio panel, over and over\n"
    "  listens on 127.0.0.1:N (7650; 0 picks a free port) for one Tarvion at a time\n"
    "commands (stdin, or the script once Tarvion is connected; '+MS ' before a script\n"
    "command waits that long first):\n"
    "  plug ID KIND DRIVER-KEY [NAME]   unplug ID        list       quit\n"
    "  turn ID outer|inner STEPS        select ID POSITION (multi: com1..adf2, xpdr; xpdr: 0..4)\n"
    "  press|release|tap ID INPUT       (swap test annunciator adfswitch flagset flagclear\n"
    "                                    com1 com2 nav nav1 nav2 adf)\n"
    "  bit ID N on|off                  raw ID HEX        sleep MS\n"
    "  expect ID HEX [MS]               the script waits for that output report (exit 1 if "
    "never)\n";

// SIGINT or SIGTERM: end as after "quit", so a recording is saved.
volatile std::sig_atomic_t g_stop = 0;
void on_stop_signal(int) {
  g_stop = 1;
}
void end_on_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;  // no SA_RESTART: a waiting poll returns
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}
bool stop_requested() {
  return g_stop != 0;
}

// The terminal host with a recording of everything, saved when it ends.
int run_recorded(virtual_panels::PanelHost& host, const std::string& file) {
  using namespace virtual_panels;
  std::vector<std::string> panels;
  for (const Panel& p : host.panels())
    panels.push_back(panel_argument(p.id, p.model.kind(), p.driver_key, p.name));
  Recording recording(panels);
  auto start = std::chrono::steady_clock::now();
  auto now = [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  HostEvents events;
  events.plugged = [&](const Panel& p) {
    recording.plugged(now(), p.id, p.model.kind(), p.driver_key, p.name);
  };
  events.unplugged = [&](const std::string& id) { recording.unplugged(now(), id); };
  events.input = [&](const std::string& id, const std::vector<uint8_t>& report) {
    recording.input(now(), id, report);
  };
  events.output = [&](const Panel& p, const std::vector<uint8_t>& report) {
    recording.output(now(), p.id, report);
  };
  host.set_events(events);
  end_on_signals();
  while (!stop_requested() && host.poll_once(200)) {
  }
  host.close();
  int status = host.status();
  std::ofstream out(file);
  out << recording.script();
  if (!out) {
    std::cerr << "virtual-panels: cannot write " << file << "\n";
    return status != 0 ? status : 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace virtual_panels;
  PanelHost host(std::cout, std::cerr);
  uint16_t port = 7650;
  std::string script_file;
  bool use_stdin = true;
  bool demo = false;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool have_display =
      (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
  std::optional<bool> window_asked;  // --window / --no-window
  std::string record_file;
  [[maybe_unused]] bool trace_window = false;
  struct Wanted {
    std::string id, key, name;
    uint16_t kind;
  };
  std::vector<Wanted> wanted;
  std::map<std::string, int> per_kind;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--window" || arg == "--no-window") {
      window_asked = arg == "--window";
      continue;
    }
    if ((arg == "--port" || arg == "--script" || arg == "--record") && i + 1 < argc) {
      std::string value = argv[++i];
      if (arg == "--record") {
        record_file = value;
      } else if (arg == "--script") {
        script_file = value;
      } else {
        try {
          int p = std::stoi(value);
          if (p < 0 || p > 65535) throw std::out_of_range("port");
          port = static_cast<uint16_t>(p);
        } catch (...) {
          std::cerr << kUsage;
          return 2;
        }
      }
      continue;
    }
    if (arg == "--panels" && i + 1 < argc) {
      std::string list = argv[++i];
      std::size_t start = 0;
      while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma - start);
        auto kind = kind_of(name);
        if (!kind) {
          std::cerr << "virtual-panels: not a panel kind: " << name << "\n" << kUsage;
          return 2;
        }
        char key[8];
        std::snprintf(key, sizeof key, "%04zu", wanted.size() + 1);
        wanted.push_back({kind_name(*kind) + std::to_string(++per_kind[kind_name(*kind)]), key,
                          kind_name(*kind), *kind});
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      continue;
    }
    if (arg == "--trace-window") {
      trace_window = true;
      continue;
    }
    if (arg == "--demo") {
      demo = true;
      continue;
    }
    if (arg == "--no-stdin") {
      use_stdin = false;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    std::string id;
    std::size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      id = arg.substr(0, eq);
      arg = arg.substr(eq + 1);
    }
    std::size_t colon = arg.find(':');
    auto kind = colon == std::string::npos ? std::nullopt : kind_of(arg.substr(0, colon));
    if (!kind) {
      std::cerr << "virtual-panels: not a panel: " << argv[i] << "\n" << kUsage;
      return 2;
    }
    std::string rest = arg.substr(colon + 1);
    std::size_t second = rest.find(':');
    std::string key = rest.substr(0, second);
    std::string name = second == std::string::npos ? kind_name(*kind) : rest.substr(second + 1);
    if (id.empty()) id = kind_name(*kind) + std::to_string(++per_kind[kind_name(*kind)]);
    wanted.push_back({id, key, name, *kind});
  }
  if (!script_file.empty()) {
    std::ifstream in(script_file);
    if (!in) {
      std::cerr << "virtual-panels: cannot read " << script_file << "\n";
      return 2;
    }
    host.set_script(parse_script(in));
    use_stdin = false;
  }
  if (demo && script_file.empty()) {
    // Every radio panel in turn: outer knob, inner knob, transfer.
    std::vector<ScriptLine> script;
    for (const Wanted& w : wanted) {
      if (w.kind == 12) continue;
      script.push_back({1500, "turn " + w.id + " outer +1"});
      script.push_back({700, "turn " + w.id + " inner +2"});
      if (w.kind != 16) script.push_back({700, "tap " + w.id + " swap"});
    }
    host.set_script(std::move(script));
    host.set_loop(true);
    use_stdin = false;
  }
  // A script runs to its end and exits with its verdict, in the terminal,
  // unless the window is asked for; anything else opens the window where it can.
  [[maybe_unused]] bool window = window_asked.value_or(have_display && script_file.empty());
#ifndef VIRTUAL_PANELS_WINDOW
  if (window_asked.value_or(false)) {
    std::cerr << "virtual-panels: built without Qt Widgets, no window\n";
    return 2;
  }
  window = false;
#endif
  auto start = [&] {
    if (!host.listen(port)) return false;
    for (const Wanted& w : wanted) {
      if (!host.plug(w.id, w.kind, w.key, w.name)) {
        std::cerr << "virtual-panels: cannot plug " << w.id << "\n";
        return false;
      }
    }
    host.set_stdin_commands(use_stdin);
    return true;
  };
#ifdef VIRTUAL_PANELS_WINDOW
  if (window) {
    end_on_signals();
    return run_cockpit(host, CockpitOptions{record_file, stop_requested, trace_window}, start, argc,
                       argv);
  }
#endif
  if (!start()) return 2;
  if (record_file.empty()) return host.run();
  return run_recorded(host, record_file);
}
