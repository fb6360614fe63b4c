#include "sim_process.h"

#include <chrono>

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
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, in_read = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !CreatePipe(&in_read, &stdin_, &inherit, 0)) {
    return;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
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
  if (!started) {
    CloseHandle(out_read);
    return;
  }
  reader_ = std::thread([this, out_read] { read_output(out_read); });
  ready_ = wait_line("listening", 20000);
}

SimProcess::~SimProcess() {
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
  if (reader_.joinable()) reader_.join();
}

void SimProcess::read_output(HANDLE from) {
  std::string pending;
  char buffer[1024];
  DWORD got = 0;
  while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    pending.append(buffer, got);
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending.erase(0, end + 1);
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
      arrived_.notify_all();
    }
  }
  CloseHandle(from);
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  arrived_.notify_all();
}

bool SimProcess::wait_line(const std::string& part, DWORD bound_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!lines_.empty()) {
      const std::string line = std::move(lines_.front());
      lines_.pop_front();
      if (line.find(part) != std::string::npos) return true;
    }
    if (ended_) return false;
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && lines_.empty()) {
      return false;
    }
  }
}

void SimProcess::command(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  if (stdin_ != nullptr) {
    WriteFile(stdin_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

}  // namespace tarvion::win32_test
