// The four exports of an in-process COM server and DllMain, and the class
// factory: the one place that makes SessionObjects.
#include <olectl.h>

#include <string>

#include "com/module.h"
#include "com/registration_table.h"
#include "com/session_object.h"
#include "base/text.h"
#include "search/search_keys.h"

namespace ledra::com {

namespace {

// Registry text is UTF-16 here and UTF-8 in the shared table.
std::string Utf8(const std::wstring& w) { return ToUtf8(Text(w.begin(), w.end())); }
std::wstring Wide(const std::string& s) {
  const Text t = FromUtf8(s);
  return std::wstring(t.begin(), t.end());
}

std::string GuidText(REFGUID g) {
  wchar_t buf[64];
  StringFromGUID2(g, buf, 64);
  return Utf8(buf);
}

// What this DLL fills into the registration table's tokens.
RegistrationValues OwnRegistrationValues() {
  return {GuidText(CLSID_Session), GuidText(LIBID_plgLedraII), GuidText(IID__Session), Utf8(ModulePath()),
          sizeof(void*) == 8 ? "win64" : "win32"};
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
    UsePlatform();
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

}  // namespace

}  // namespace ledra::com

using namespace ledra::com;

// Under the loader lock nothing is made and nothing released: the platform
// and the type library come on first use, and at process exit the system
// takes back what is left.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Session)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
  // Live objects, server locks, calls still running and the search keys'
  // worker thread (it runs code of this DLL while it lives) hold the module.
  if (ModuleCount() != 0 || ledra::SearchKeyWorkerRunning()) return S_FALSE;
  ReleaseTypeLib();
  return S_OK;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
  const RegistrationValues v = OwnRegistrationValues();
  for (const RegistryEntry& e : kRegistration) {
    std::wstring name = e.name ? Wide(e.name) : std::wstring();
    LONG rc = SetKey(HKEY_CLASSES_ROOT, Wide(ExpandRegistration(e.key, v)), e.name ? name.c_str() : nullptr,
                     Wide(ExpandRegistration(e.value, v)));
    if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  const RegistrationValues v = OwnRegistrationValues();
  bool ok = true;
  for (const char* root : kRegistrationRoots) {
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(ExpandRegistration(root, v)).c_str());
    ok = ok && (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND);
  }
  // The type library's key holds one entry per platform and may be shared by
  // the other architecture's DLL: it goes only when no platform is left.
  HKEY platforms = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(ExpandRegistration(kTypeLibPlatforms, v)).c_str(), 0, KEY_READ,
                    &platforms) == ERROR_SUCCESS) {
    DWORD left = 0;
    RegQueryInfoKeyW(platforms, nullptr, nullptr, nullptr, &left, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(platforms);
    if (left == 0) RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(ExpandRegistration(kTypeLibRoot, v)).c_str());
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}
