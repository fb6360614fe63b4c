// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_ipc_transport.h"

#include <windows.h>

#include <cstdint>

namespace tarvion {

namespace {

HANDLE as_handle(IpcMapping mapping) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(mapping));
}

IpcMapping as_mapping(HANDLE handle) {
  return static_cast<IpcMapping>(reinterpret_cast<uintptr_t>(handle));
}

// The size of the view that starts at base: the committed run of pages of its
// allocation (a view is one allocation; its pages may differ in protection).
std::size_t view_size(void* base) {
  std::size_t size = 0;
  auto* at = static_cast<uint8_t*>(base);
  MEMORY_BASIC_INFORMATION info{};
  while (VirtualQuery(at, &info, sizeof info) == sizeof info && info.AllocationBase == base &&
         info.State == MEM_COMMIT && info.RegionSize > 0) {
    size += info.RegionSize;
    at += info.RegionSize;
  }
  return size;
}

}  // namespace

void Win32IpcTransport::keep_error() {
  last_error_ = GetLastError();
}

IpcWindow Win32IpcTransport::find_window(const std::string& window_class) {
  HWND window = FindWindowExA(nullptr, nullptr, window_class.c_str(), nullptr);
  if (window == nullptr) keep_error();
  return static_cast<IpcWindow>(reinterpret_cast<uintptr_t>(window));
}

uint32_t Win32IpcTransport::register_message(const std::string& name) {
  const UINT message = RegisterWindowMessageA(name.c_str());
  if (message == 0) keep_error();
  return message;
}

uint16_t Win32IpcTransport::add_atom(const std::string& name) {
  const ATOM atom = GlobalAddAtomA(name.c_str());
  if (atom == 0) keep_error();
  return atom;
}

void Win32IpcTransport::delete_atom(uint16_t atom) {
  GlobalDeleteAtom(atom);
}

IpcMapping Win32IpcTransport::create_mapping(const std::string& name, std::size_t size,
                                             bool& already_existed) {
  const auto size64 = static_cast<uint64_t>(size);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64),
                                      name.c_str());
  // Read at once: success also sets the last error, to tell an existing object.
  const DWORD error = GetLastError();
  already_existed = mapping != nullptr && error == ERROR_ALREADY_EXISTS;
  if (mapping == nullptr) last_error_ = error;
  return as_mapping(mapping);
}

std::span<uint8_t> Win32IpcTransport::map_view(IpcMapping mapping) {
  void* base = MapViewOfFile(as_handle(mapping), FILE_MAP_WRITE, 0, 0, 0);
  if (base == nullptr) {
    keep_error();
    return {};
  }
  return {static_cast<uint8_t*>(base), view_size(base)};
}

void Win32IpcTransport::unmap_view(std::span<uint8_t> view) {
  if (view.data() != nullptr) UnmapViewOfFile(view.data());
}

void Win32IpcTransport::close_mapping(IpcMapping mapping) {
  if (mapping != kNoIpcMapping) CloseHandle(as_handle(mapping));
}

bool Win32IpcTransport::send_message(IpcWindow window, uint32_t message, uint64_t wparam,
                                     int64_t lparam, uint32_t timeout_ms, int64_t& answer) {
  DWORD_PTR result = 0;
  // Older systems leave the last error alone on a time-out; 0 then says
  // "timed out" rather than repeating an earlier failure's code.
  SetLastError(0);
  const LRESULT sent = SendMessageTimeoutA(
      reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), message, static_cast<WPARAM>(wparam),
      static_cast<LPARAM>(lparam), SMTO_BLOCK, timeout_ms, &result);
  if (sent == 0) {
    keep_error();
    return false;
  }
  answer = static_cast<int64_t>(result);
  return true;
}

void Win32IpcTransport::wait(uint32_t milliseconds) {
  Sleep(milliseconds);
}

uint32_t Win32IpcTransport::process_id() {
  return GetCurrentProcessId();
}

}  // namespace tarvion
