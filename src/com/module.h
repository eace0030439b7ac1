// The DLL's module state: its handle, the count of live objects and locks
// that decides whether it may be unloaded, the platform and the embedded
// type library.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace ledra::com {

void SetModuleHandle(HMODULE module);  // DllMain, at process attach
HMODULE ModuleHandle();
std::wstring ModulePath();
void ModuleAddRef();
void ModuleRelease();
LONG ModuleCount();
// The platform the core runs on, set up on first use.
void UsePlatform();
// The type information of _Session from the embedded type library, loaded
// on first use; let go when the module may unload.
HRESULT SessionTypeInfo(ITypeInfo** info);
void ReleaseTypeLib();

}  // namespace ledra::com
