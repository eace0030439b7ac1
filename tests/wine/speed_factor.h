// How many times slower this run's machine runs code than the machines the
// tests' time limits were set on. 1 natively; the test VM measures it at the
// start of its run (a fixed calibration loop timed on the host and in the
// guest) and passes it as LEDRA_SPEED_FACTOR. A limit on how long code takes
// is multiplied by it, never switched off.
#pragma once

#include <windows.h>

#include <cstdlib>

inline double SpeedFactor() {
  char text[32] = {0};
  if (GetEnvironmentVariableA("LEDRA_SPEED_FACTOR", text, sizeof text) == 0) return 1.0;
  double f = std::strtod(text, nullptr);
  return f > 1.0 ? f : 1.0;
}

// A time limit in milliseconds, scaled by the speed factor.
inline DWORD ScaledMs(DWORD ms) { return static_cast<DWORD>(ms * SpeedFactor() + 0.5); }
