// The DLL's module state: its handle, the count of live objects, locks and
// running calls, the platform the core runs on inside the DLL, and the
// embedded type library.
#include "com/module.h"

#include <string>

#include "plgLedraII.h"
#include "platform/win32/win32_platform.h"

namespace ledra::com {

namespace {

HMODULE g_module = nullptr;
LONG g_count = 0;
// Loaded on first use and kept while anything of the module lives.
ITypeLib* g_typelib = nullptr;
SRWLOCK g_typelib_lock = SRWLOCK_INIT;

}  // namespace

void SetModuleHandle(HMODULE module) { g_module = module; }
HMODULE ModuleHandle() { return g_module; }
void ModuleAddRef() { InterlockedIncrement(&g_count); }
void ModuleRelease() { InterlockedDecrement(&g_count); }
LONG ModuleCount() { return g_count; }

std::wstring ModulePath() {
  wchar_t path[MAX_PATH + 1] = {0};
  GetModuleFileNameW(g_module, path, MAX_PATH);
  return path;
}

void UsePlatform() {
  // Made on the first object, outside the loader lock: reading the version
  // resource loads libraries.
  static const bool made = (ledra::SetPlatform(&ledra::win32::ThePlatform(g_module)), true);
  (void)made;
}

HRESULT SessionTypeInfo(ITypeInfo** info) {
  AcquireSRWLockExclusive(&g_typelib_lock);
  HRESULT hr = S_OK;
  if (!g_typelib) hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &g_typelib);
  if (SUCCEEDED(hr)) hr = g_typelib->GetTypeInfoOfGuid(IID__Session, info);
  ReleaseSRWLockExclusive(&g_typelib_lock);
  return hr;
}

// Type information handed out keeps its own reference to the library.
void ReleaseTypeLib() {
  AcquireSRWLockExclusive(&g_typelib_lock);
  ITypeLib* lib = g_typelib;
  g_typelib = nullptr;
  ReleaseSRWLockExclusive(&g_typelib_lock);
  if (lib) lib->Release();
}

}  // namespace ledra::com
