#include "common/platform.h"

namespace ledra {

namespace {
Platform* g_platform = nullptr;
Platform g_none;
}  // namespace

Platform& Sys() { return g_platform ? *g_platform : g_none; }
void SetPlatform(Platform* p) { g_platform = p; }

}  // namespace ledra
