// An early-bound host: creates Sessions by ProgID and calls _Session through
// the vtable. The fixed answers are host_session.vbs's to check; here what
// early binding adds: by-reference texts left alone, a variant answer, a
// null answer pointer, several Sessions on a thread, DllCanUnloadNow, and
// the workers no script host calls.
#include "client.h"

int main() {
  CoInitialize(nullptr);
  _Session* s = CreateSession();

  BSTR r = nullptr;
  std::wstring got;

  Bstr data(L"{DBFile(S25)=C:\\nowhere\\data\\a_sname.dbf}"), user(L""), page(L"user"), rd(L"{A(S1)=1}");
  IDispatch* cb = nullptr;
  got = (s->Initialize(&data.b, &user.b, &cb, &r), Take(r));
  Expect("Initialize answers empty", got.empty(), got);
  Expect("Initialize leaves its by-reference text alone", std::wstring(data.b) == L"{DBFile(S25)=C:\\nowhere\\data\\a_sname.dbf}");

  got = WithDialogClosed([&] { return (s->Configure(&rd.b, &page.b, &r), Take(r)); });
  Expect("Configure returns the record with its page", got == L"{A(S1)=1}{Page(S4)=USER}", got);

  VARIANT init;
  VariantInit(&init);
  Expect("InitializeReal answers an empty variant", SUCCEEDED(s->InitializeReal(&init)) && V_VT(&init) == VT_EMPTY);

  // The workers no host script calls answer without failing, whatever the
  // data (the script hosts call the rest, by name).
  Bstr empty(L""), find(L"{Tel(S11)=01234567890}");
  HRESULT all = S_OK;
  auto call = [&](HRESULT hr) { if (FAILED(hr)) all = hr; SysFreeString(r); r = nullptr; };
  call(s->LoadReal(&empty.b, &r));
  call(s->FindReal(find.b, &r));
  call(s->CacheRecordReal(&r));
  call(s->UnloadReal(&r));
  Expect("every worker answers S_OK", all == S_OK);

  // A null answer pointer is refused, not dereferenced.
  Expect("null answer pointer", s->Capabilities(nullptr) == E_POINTER);

  // Several Sessions live side by side on one thread.
  CreateSession()->Release();
  s->Release();

  Expect("DllCanUnloadNow once all are released", CanUnloadNow() == S_OK);

  CoUninitialize();
  return Finish();
}
