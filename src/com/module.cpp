// The four exports of an in-process COM server, the class factory, and the
// platform the core runs on inside the DLL.
#include "com/module.h"

#include <olectl.h>

#include <string>

#include "com/session_object.h"
#include "platform/win32/win32_platform.h"

namespace ledra::com {

namespace {

HMODULE g_module = nullptr;
LONG g_count = 0;
ITypeLib* g_typelib = nullptr;
CRITICAL_SECTION g_typelib_lock;

const wchar_t kProgId[] = L"plgLedraII.Session";

std::wstring ModulePath() {
  wchar_t path[MAX_PATH + 1] = {0};
  GetModuleFileNameW(g_module, path, MAX_PATH);
  return path;
}

std::wstring GuidText(REFGUID g) {
  wchar_t buf[64];
  StringFromGUID2(g, buf, 64);
  return buf;
}

class ClassFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; it only keeps the module loaded while held.
  ULONG STDMETHODCALLTYPE AddRef() override { ModuleAddRef(); return 2; }
  ULONG STDMETHODCALLTYPE Release() override { ModuleRelease(); return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    SessionObject* obj = nullptr;
    try {
      obj = new SessionObject();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = obj->QueryInterface(riid, out);
    obj->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) ModuleAddRef(); else ModuleRelease();
    return S_OK;
  }
};

ClassFactory g_factory;

LONG SetKey(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc;
}

HRESULT LoadOwnTypeLib(ITypeLib** lib) {
  return LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, lib);
}

}  // namespace

HMODULE ModuleHandle() { return g_module; }
void ModuleAddRef() { InterlockedIncrement(&g_count); }
void ModuleRelease() { InterlockedDecrement(&g_count); }
LONG ModuleCount() { return g_count; }

HRESULT SessionTypeInfo(ITypeInfo** info) {
  EnterCriticalSection(&g_typelib_lock);
  HRESULT hr = S_OK;
  if (!g_typelib) hr = LoadOwnTypeLib(&g_typelib);
  if (SUCCEEDED(hr)) hr = g_typelib->GetTypeInfoOfGuid(IID__Session, info);
  LeaveCriticalSection(&g_typelib_lock);
  return hr;
}

}  // namespace ledra::com

using namespace ledra::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    InitializeCriticalSection(&g_typelib_lock);
    ledra::SetPlatform(&ledra::win32::ThePlatform(instance));
  } else if (reason == DLL_PROCESS_DETACH) {
    if (g_typelib) g_typelib->Release();
    g_typelib = nullptr;
    DeleteCriticalSection(&g_typelib_lock);
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Session)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return ModuleCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT __stdcall DllRegisterServer() {
  const std::wstring clsid = GuidText(CLSID_Session);
  const std::wstring libid = GuidText(LIBID_plgLedraII);
  const std::wstring key = L"CLSID\\" + clsid;
  LONG rc = ERROR_SUCCESS;
  auto set = [&](const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    if (rc == ERROR_SUCCESS) rc = SetKey(HKEY_CLASSES_ROOT, path, name, value);
  };
  set(kProgId, nullptr, kProgId);
  set(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid);
  set(key, nullptr, kProgId);
  set(key + L"\\ProgID", nullptr, kProgId);
  set(key + L"\\InprocServer32", nullptr, ModulePath());
  set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  set(key + L"\\TypeLib", nullptr, libid);
  set(key + L"\\VERSION", nullptr, L"2.0");
  set(key + L"\\Programmable", nullptr, L"");
  if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;

  ITypeLib* lib = nullptr;
  HRESULT hr = LoadOwnTypeLib(&lib);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  std::wstring path = ModulePath();
  hr = RegisterTypeLib(lib, const_cast<LPOLESTR>(path.c_str()), nullptr);
  lib->Release();
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  const std::wstring clsid = GuidText(CLSID_Session);
  // The type library was registered for this DLL's own platform.
  UnRegisterTypeLib(LIBID_plgLedraII, 2, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
  LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
  return ok ? S_OK : SELFREG_E_CLASS;
}
