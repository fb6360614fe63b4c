#include "sim_process.h"

namespace tarvion::win32_test {

namespace {

// fsuipc-sim's path relative to this test program's folder (set by CMake).
std::string sim_path() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self);
  path.erase(path.find_last_of("\\/") + 1);
  for (char c : std::string(TARVION_FSUIPC_SIM_RELATIVE)) path += c == '/' ? '\\' : c;
  return path;
}

}  // namespace

SimProcess::SimProcess(const std::string& args) {
  // Under a freshly started wineserver a child has been seen to stay stuck
  // before its first instruction now and then; a second start is what a user
  // would do, and the test is about the stand-in's answers, not Wine's start.
  for (int attempt = 0; attempt < 2 && !ready_; ++attempt) {
    if (attempt > 0) stop();
    start(args);
  }
}

void SimProcess::start(const std::string& args) {
  pending_.clear();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_write = nullptr, in_read = nullptr;
  if (!CreatePipe(&stdout_, &out_write, &inherit, 0)) return;
  if (!CreatePipe(&in_read, &stdin_, &inherit, 0)) {
    CloseHandle(out_write);
    return;
  }
  SetHandleInformation(stdout_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(stdin_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = out_write;
  std::string command_line = "\"" + sim_path() + "\" " + args;
  const BOOL started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process_);
  CloseHandle(out_write);
  CloseHandle(in_read);
  if (started) ready_ = wait_line("listening", 20000);
}

SimProcess::~SimProcess() {
  stop();
}

void SimProcess::stop() {
  if (process_.hProcess != nullptr) {
    command("quit");
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  if (stdin_ != nullptr) CloseHandle(stdin_);
  if (stdout_ != nullptr) CloseHandle(stdout_);
  process_ = PROCESS_INFORMATION{};
  stdin_ = stdout_ = nullptr;
}

bool SimProcess::read_available() {
  DWORD waiting = 0;
  if (!PeekNamedPipe(stdout_, nullptr, 0, nullptr, &waiting, nullptr)) return false;
  while (waiting > 0) {
    char buffer[1024];
    DWORD got = 0;
    if (!ReadFile(stdout_, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &got,
                  nullptr)) {
      return false;
    }
    pending_.append(buffer, got);
    waiting -= got;
  }
  return true;
}

bool SimProcess::wait_line(const std::string& part, DWORD bound_ms) {
  const ULONGLONG deadline = GetTickCount64() + bound_ms;
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      said_ += line + "\n";
      if (line.find(part) != std::string::npos) return true;
    }
    if (stdout_ == nullptr || !read_available() || GetTickCount64() >= deadline) return false;
    if (pending_.find('\n') == std::string::npos) Sleep(10);  // a pipe has no wait with a bound
  }
}

std::string SimProcess::state() {
  DWORD code = 0;
  if (process_.hProcess == nullptr)
    return "not started (error " + std::to_string(GetLastError()) + ")";
  GetExitCodeProcess(process_.hProcess, &code);
  return (code == STILL_ACTIVE ? std::string("running") : "ended with " + std::to_string(code)) +
         ", said:\n" + said_ + pending_;
}

void SimProcess::command(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  if (stdin_ != nullptr) {
    WriteFile(stdin_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

}  // namespace tarvion::win32_test
