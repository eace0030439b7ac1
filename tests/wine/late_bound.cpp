// A late-bound host: finds the methods by name through IDispatch, checks
// their dispatch IDs, and invokes them the way a script host does (variables
// passed by reference as VARIANT*, literals by value).
#include <vector>

#include "client.h"

namespace {

struct Method { const wchar_t* name; DISPID id; };

// The host contract, then the workers; 0x60030029 and 0x6003002A are unused.
const Method kMethods[] = {
    {L"Install", 0x6003001A},      {L"Uninstall", 0x6003001B},       {L"Configure", 0x6003001C},
    {L"Initialize", 0x6003001D},   {L"Uninitialize", 0x6003001E},    {L"Load", 0x6003001F},
    {L"Unload", 0x60030020},       {L"FindContact", 0x60030021},     {L"FindList", 0x60030022},
    {L"DoAction", 0x60030023},     {L"CacheStart", 0x60030024},      {L"CacheEnd", 0x60030025},
    {L"CacheRecord", 0x60030026},  {L"Capabilities", 0x60030027},    {L"Blocked", 0x60030028},
    {L"InstallReal", 0x6003002B},  {L"UninitializeReal", 0x6003002C}, {L"InitializeReal", 0x6003002D},
    {L"LoadReal", 0x6003002E},     {L"UnloadReal", 0x6003002F},      {L"FindReal", 0x60030030},
    {L"CheckRunning", 0x60030031}, {L"DoActionReal", 0x60030032},    {L"CacheRecordReal", 0x60030033},
    {L"GetContact", 0x60030034},   {L"CapabilitiesReal", 0x60030035}, {L"SetProperty", 0x60030036},
    {L"GetProperty", 0x60030037},
};

DISPID IdOf(IDispatch* d, const wchar_t* name) {
  LPOLESTR n = const_cast<LPOLESTR>(name);
  DISPID id = DISPID_UNKNOWN;
  return SUCCEEDED(d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id)) ? id : DISPID_UNKNOWN;
}

// Invokes a method; args are given first-to-last and passed last-first.
HRESULT Call(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPPARAMS p{rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
  VariantInit(result);
  return d->Invoke(IdOf(d, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &p, result, nullptr, nullptr);
}

VARIANT Str(const wchar_t* s) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(s); return v; }
VARIANT Ref(VARIANT* inner) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_VARIANT | VT_BYREF; V_VARIANTREF(&v) = inner; return v; }
std::wstring Text(const VARIANT& v) { return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"<not text>"; }

}  // namespace

int main() {
  CoInitialize(nullptr);
  IDispatch* d = CreateSession<IDispatch>(IID_IDispatch);

  UINT count = 0;
  Expect("one type info", SUCCEEDED(d->GetTypeInfoCount(&count)) && count == 1);
  int wrong = 0;
  for (const Method& m : kMethods) {
    DISPID id = IdOf(d, m.name);
    if (id != m.id) { std::printf("  %ls: 0x%08lX\n", m.name, static_cast<unsigned long>(id)); ++wrong; }
  }
  Expect("dispatch IDs of all 28 methods", wrong == 0);
  Expect("names match without regard to case", IdOf(d, L"CAPABILITIES") == 0x60030027);
  Expect("unknown name", IdOf(d, L"NoSuchMethod") == DISPID_UNKNOWN);

  VARIANT r;
  // Script style: variables by reference as VARIANT*.
  VARIANT data = Str(L"{DBFile(S25)=C:\\nowhere\\data\\a_sname.dbf}"), user = Str(L""), cb;
  VariantInit(&cb);
  V_VT(&cb) = VT_DISPATCH;
  V_DISPATCH(&cb) = nullptr;
  HRESULT hr = Call(d, L"Initialize", {Ref(&data), Ref(&user), Ref(&cb)}, &r);
  Expect("Initialize with VARIANT* arguments", SUCCEEDED(hr) && Text(r).empty(), Text(r));
  VariantClear(&r);

  VARIANT rd = Str(L"{A(S1)=1}"), page = Str(L"Action");
  hr = WithDialogClosed([&] { return Call(d, L"Configure", {Ref(&rd), Ref(&page)}, &r); });
  Expect("Configure with VARIANT* arguments", SUCCEEDED(hr) && Text(r) == L"{A(S1)=1}{Page(S6)=ACTION}", Text(r));
  Expect("by-reference arguments unchanged", Text(rd) == L"{A(S1)=1}" && Text(page) == L"Action");
  VariantClear(&r);

  // Literals by value where a by-reference parameter is declared.
  hr = WithDialogClosed([&] { return Call(d, L"Configure", {Str(L"{B(S1)=2}"), Str(L"")}, &r); });
  Expect("Configure with literals", SUCCEEDED(hr) && Text(r) == L"{B(S1)=2}", Text(r));
  VariantClear(&r);

  VARIANT empty_cb;
  VariantInit(&empty_cb);
  hr = Call(d, L"Initialize", {Str(L""), Str(L""), Ref(&empty_cb)}, &r);
  Expect("Initialize with an empty callback variable", SUCCEEDED(hr) && Text(r).empty(), Text(r));
  VariantClear(&r);

  VARIANT start;
  VariantInit(&start);
  V_VT(&start) = VT_BOOL;
  V_BOOL(&start) = VARIANT_FALSE;
  hr = Call(d, L"CheckRunning", {Ref(&start)}, &r);
  Expect("CheckRunning with a VARIANT* boolean", SUCCEEDED(hr) && V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_FALSE);

  VARIANT n;
  VariantInit(&n);
  V_VT(&n) = VT_I4;
  V_I4(&n) = 42;
  hr = Call(d, L"Load", {Ref(&n)}, &r);
  Expect("a number where text is declared is converted", SUCCEEDED(hr) && V_VT(&r) == VT_BSTR);
  VariantClear(&r);

  hr = Call(d, L"Blocked", {}, &r);
  Expect("Blocked", SUCCEEDED(hr) && V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_FALSE);

  hr = Call(d, L"FindContact", {}, &r);
  Expect("missing argument is refused by the dispatcher", hr == DISP_E_BADPARAMCOUNT);

  VariantClear(&data); VariantClear(&user); VariantClear(&rd); VariantClear(&page);
  d->Release();
  CoUninitialize();
  return Finish();
}
