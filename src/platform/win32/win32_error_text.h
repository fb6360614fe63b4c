// Errors as a Windows user reads them: the system's message for an error
// code, and the error box, both in the program's UTF-8.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <string>

namespace tarvion {

// The system's message for error without its closing full stop and line end,
// or "error <number>" when there is none. language 0: the user's own.
std::string win32_error_text(DWORD error, DWORD language = 0);

// A modal box with the error icon and OK, owned by owner (may be null).
void show_error_box(HWND owner, const std::string& title, const std::string& text);

}  // namespace tarvion
