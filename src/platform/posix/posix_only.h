// Included first by every file of this folder: POSIX socket code must not
// build on Windows.
#pragma once
#ifdef _WIN32
#error "src/platform/posix is for POSIX systems; check the CMake lists"
#endif
