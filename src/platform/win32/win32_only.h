// Included first by every file of this folder: Windows code must not build elsewhere.
#pragma once
#ifndef _WIN32
#error "src/platform/win32 is Windows-only; check the CMake lists"
#endif
