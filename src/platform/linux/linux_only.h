// Included first by every file of this folder: Linux code must not build elsewhere.
#pragma once
#ifndef __linux__
#error "src/platform/linux is Linux-only; check the CMake lists"
#endif
