#include "common/platform.h"

#include "common/errors.h"

namespace ledra {

namespace {
Platform* g_platform = nullptr;
Platform g_none;
}  // namespace

Platform& Sys() { return g_platform ? *g_platform : g_none; }

void SetPlatform(Platform* p) {
  if (p == g_platform) return;
  // The repeats the outgoing platform's log still owes go to that log.
  LogLeftOutRepeats(true);
  g_platform = p;
}

}  // namespace ledra
