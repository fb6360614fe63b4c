// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_error_text.h"

#include <cwchar>

#include "base/utf16.h"

namespace tarvion {
namespace {

std::wstring wide(const std::string& utf8) {
  std::u16string utf16 = utf8_to_utf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

}  // namespace

std::string win32_error_text(DWORD error, DWORD language) {
  // The W form: the A form gives the ANSI code page, which is not UTF-8 on
  // any system whose messages are not plain English.
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message;
  if (text) {
    message.assign(text, text + wcslen(text));
    LocalFree(text);
  }
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' ||
                              message.back() == u' ' || message.back() == u'.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : utf16_to_utf8(message);
}

void show_error_box(HWND owner, const std::string& title, const std::string& text) {
  MessageBoxW(owner, wide(text).c_str(), wide(title).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace tarvion
