// An early-bound host: creates Sessions by ProgID and calls every method of
// _Session through the vtable in the host's order. The fixed answers are
// host_session.vbs's to check; here what early binding adds: by-reference
// texts left alone, a variant answer, a null answer pointer, several
// Sessions on a thread, and DllCanUnloadNow.
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

  // The rest of the contract answers without failing, whatever the data.
  Bstr empty(L"");
  Bstr find(L"{Tel(S11)=01234567890}");
  Bstr prop(L"Anything");
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = 7;
  VARIANT_BOOL start = VARIANT_FALSE, flag = VARIANT_TRUE;
  HRESULT all = S_OK;
  auto call = [&](HRESULT hr) { if (FAILED(hr)) all = hr; SysFreeString(r); r = nullptr; };
  call(s->Install(&r));
  call(s->Blocked(&flag));
  call(s->SetProperty(&prop.b, &value, &r));
  call(s->GetProperty(&prop.b, &r));
  call(s->CheckRunning(&start, &flag));
  call(s->Capabilities(&r));
  call(s->CapabilitiesReal(&r));
  call(s->Load(&empty.b, &r));
  call(s->FindContact(find.b, &r));
  call(s->FindList(find.b, &r));
  call(s->FindReal(find.b, &r));
  call(s->DoAction(empty.b, &r));
  call(s->CacheStart(&r));
  call(s->CacheRecord(&r));
  call(s->CacheEnd(&r));
  call(s->LoadReal(&empty.b, &r));
  call(s->UnloadReal(&r));
  call(s->CacheRecordReal(&r));
  call(s->Unload(&r));
  call(s->UninitializeReal(&r));
  call(s->InstallReal(&r));
  call(s->Uninstall(&r));
  call(s->Uninitialize(&r));
  Expect("every method answers S_OK", all == S_OK);

  // A null answer pointer is refused, not dereferenced.
  Expect("null answer pointer", s->Capabilities(nullptr) == E_POINTER);

  // Several Sessions live side by side on one thread.
  CreateSession()->Release();
  s->Release();

  Expect("DllCanUnloadNow once all are released", CanUnloadNow() == S_OK);

  CoUninitialize();
  return Finish();
}
