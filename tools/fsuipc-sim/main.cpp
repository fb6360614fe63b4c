// fsuipc-sim: a stand-in for FSUIPC (or WideClient) and a simulator, so that
// Tarvion's FSUIPC link can be run and watched on a PC without either.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fsuipc/fsuipc_block.h"
#include "offset_watch.h"
#include "platform/virtual/in_memory_fsuipc.h"
#include "sim_options.h"

namespace {

using fsuipc_sim::Options;

constexpr UINT kCommandMessage = WM_APP + 1;  // lParam: a heap std::string
constexpr UINT_PTR kSimulatorTimer = 1;
constexpr UINT kSimulatorStepMs = 50;
constexpr int32_t kFullTravel = 16383;
constexpr uint16_t kFlapDetent = 4095;  // four detents from up to fully down

// Called from the window's thread and the stdin thread.
void say(const std::string& line) {
  static std::mutex output;
  std::lock_guard<std::mutex> lock(output);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

tarvion::InMemoryFsuipc make_service(const Options& options) {
  tarvion::InMemoryFsuipc s;
  if (options.fsuipc_version) s.set_versions(*options.fsuipc_version, 0xFADE0008);
  // On the ground: gear down and locked, flaps up.
  s.write_offset(0x0BE8, 4, kFullTravel);
  s.set_gear_legs(kFullTravel, kFullTravel, kFullTravel);
  s.set_flaps(kFlapDetent, 0);
  const auto per_ms =
      static_cast<int32_t>((kFullTravel + options.travel_ms - 1) / options.travel_ms);
  s.gear_units_per_ms = per_ms;
  s.flap_units_per_ms = per_ms;
  if (options.answer_zero) s.faults.answer = 0;
  if (options.corrupt) {
    // A first record whose size runs past the block's end.
    s.after_process = [](std::span<uint8_t> block) {
      if (block.size() >= 12) tarvion::put_le32(block, 8, 0xFFFFFFF0u);
    };
  }
  return s;
}

struct Sim {
  explicit Sim(const Options& o) : options(o), service(make_service(o)), watch(service) {}

  Options options;
  tarvion::InMemoryFsuipc service;
  fsuipc_sim::OffsetWatch watch;
  UINT ipc_message = 0;
  HWND window = nullptr;
  // Set while the service answers; a message that comes while it is reset
  // holds the window's thread (and the sender) until it is set again.
  HANDLE answering = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> quitting{false};
  ULONGLONG last_step = GetTickCount64();
  int served = 0;
  uint16_t library_seen = 0;
};

void report(Sim& sim) {
  const std::vector<std::string> lines = sim.watch.changes();
  for (const std::string& line : lines) say(line);
  if (!lines.empty()) InvalidateRect(sim.window, nullptr, TRUE);
}

// The committed size of the view at base, however long the client made it.
std::size_t view_size(void* base) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(base, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return 0;
  return info.RegionSize;
}

// What FSUIPC does on the message: find the block the atom names, carry out
// its requests in place and answer 1. An unknown atom or block gets 0.
LRESULT serve(Sim& sim, WPARAM atom) {
  if (WaitForSingleObject(sim.answering, 0) != WAIT_OBJECT_0) {
    say("not answering");
    WaitForSingleObject(sim.answering, INFINITE);
    if (sim.quitting) return 0;
  }
  char name[256] = {};
  if (GlobalGetAtomNameA(static_cast<ATOM>(atom), name, sizeof name) == 0) {
    say("message with an unknown atom " + std::to_string(atom));
    return 0;
  }
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
  if (mapping == nullptr) {
    say(std::string("no shared block named ") + name);
    return 0;
  }
  LRESULT answer = 0;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) {
    answer = static_cast<LRESULT>(
        sim.service.serve_block({static_cast<uint8_t*>(view), view_size(view)}));
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  if (sim.served++ == 0) say(std::string("first request block from ") + name);
  // 0x330A shares its bytes with the simulator word, so the service keeps
  // what the client wrote there apart.
  if (sim.service.library_version != sim.library_seen) {
    sim.library_seen = sim.service.library_version;
    say("0x330A client library version = " + std::to_string(sim.library_seen));
  }
  // Only the offsets matter here; the service's record of every block would grow.
  sim.service.blocks.clear();
  sim.service.writes.clear();
  report(sim);
  return answer;
}

void run_command(Sim& sim, const std::string& command) {
  unsigned detent = 0;
  char extra = 0;
  if (command == "gear up" || command == "gear down") {
    sim.service.write_offset(0x0BE8, 4, command == "gear up" ? 0 : kFullTravel);
  } else if (std::sscanf(command.c_str(), "flaps %u%c", &detent, &extra) == 1) {
    const uint32_t increment = sim.service.read_offset(0x3BFA, 2);
    sim.service.write_offset(0x0BDC, 4, std::min<uint32_t>(detent * increment, kFullTravel));
  } else if (command == "show") {
    for (const std::string& line : sim.watch.all()) say(line);
    return;
  } else if (!command.empty()) {
    say("not a command: " + command +
        " (gear up, gear down, flaps N, show, answer on, answer off, quit)");
    return;
  }
  report(sim);
}

void paint(Sim& sim, HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  std::string text;
  for (const std::string& line : sim.watch.all()) text += line + "\n";
  RECT area;
  GetClientRect(window, &area);
  InflateRect(&area, -8, -8);
  SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
  DrawTextA(dc, text.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_NOPREFIX);
  EndPaint(window, &ps);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* sim = reinterpret_cast<Sim*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (sim == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  if (message == sim->ipc_message) return serve(*sim, wparam);
  switch (message) {
    case WM_TIMER: {
      const ULONGLONG now = GetTickCount64();
      sim->service.run_simulator(static_cast<uint32_t>(now - sim->last_step));
      sim->last_step = now;
      report(*sim);
      return 0;
    }
    case kCommandMessage: {
      std::unique_ptr<std::string> command(reinterpret_cast<std::string*>(lparam));
      run_command(*sim, *command);
      return 0;
    }
    case WM_PAINT:
      paint(*sim, window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

// stdin is read on a thread of its own. Answering and quitting are handled
// here, as the window's thread may be held by an unanswered message; every
// other line goes to the window's thread, which owns the service. The end of
// stdin only ends the reading.
void read_commands(Sim& sim) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "answer on" || line == "answer off") {
      line == "answer on" ? SetEvent(sim.answering) : ResetEvent(sim.answering);
      say(line == "answer on" ? "answering" : "answering no more");
      continue;
    }
    if (line == "quit") {
      sim.quitting = true;
      SetEvent(sim.answering);
      PostMessageA(sim.window, WM_CLOSE, 0, 0);
      return;
    }
    auto* command = new std::string(line);
    if (!PostMessageA(sim.window, kCommandMessage, 0, reinterpret_cast<LPARAM>(command))) {
      delete command;
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Plain "\n" line ends, as the tests and pipes on either side expect.
  _setmode(_fileno(stdout), _O_BINARY);
  std::string error;
  const Options options =
      fsuipc_sim::parse_options(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!error.empty()) {
    std::fprintf(stderr, "fsuipc-sim: %s\n%s", error.c_str(), fsuipc_sim::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(fsuipc_sim::kUsage, stdout);
    return 0;
  }
  Sim sim(options);

  sim.ipc_message = RegisterWindowMessageA("FsasmLib:IPC");
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = options.window_class.c_str();
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  if (sim.ipc_message == 0 || RegisterClassA(&window_class) == 0) {
    std::fprintf(stderr, "fsuipc-sim: cannot register the window class (error %lu)\n",
                 GetLastError());
    return 1;
  }
  sim.window = CreateWindowExA(0, window_class.lpszClassName, "fsuipc-sim", WS_OVERLAPPEDWINDOW,
                               CW_USEDEFAULT, CW_USEDEFAULT, 520, 560, nullptr, nullptr,
                               window_class.hInstance, &sim);
  if (sim.window == nullptr) {
    std::fprintf(stderr, "fsuipc-sim: cannot create the window (error %lu)\n", GetLastError());
    return 1;
  }
  ShowWindow(sim.window, SW_SHOWNOACTIVATE);
  SetTimer(sim.window, kSimulatorTimer, kSimulatorStepMs, nullptr);
  if (!options.no_answer) SetEvent(sim.answering);
  std::thread(read_commands, std::ref(sim)).detach();
  say("fsuipc-sim: listening as " + options.window_class + " for \"FsasmLib:IPC\" (message 0x" +
      [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%04X", sim.ipc_message);
        return std::string(hex);
      }() +
      ")");

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
