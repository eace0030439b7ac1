// The DLL's module state: its handle, the count of live objects and locks
// that decides whether it may be unloaded.
#pragma once

#include <windows.h>

namespace ledra::com {

HMODULE ModuleHandle();
void ModuleAddRef();
void ModuleRelease();
LONG ModuleCount();
// The platform the core runs on, set up on first use.
void UsePlatform();

}  // namespace ledra::com
