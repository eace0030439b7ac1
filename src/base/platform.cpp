#include "base/platform.h"

#include "base/errors.h"

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

Text RegistryText(const uint8_t* data, size_t size) {
  Text t;
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    t += c;
  }
  return t;
}

}  // namespace ledra
