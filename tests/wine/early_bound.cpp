// An early-bound host: creates Sessions by ProgID and calls every method of
// _Session through the vtable in the host's order, checking the answers.
#include "client.h"
#include "close_dialog.h"

int main() {
  CoInitialize(nullptr);
  _Session* s = CreateSession();
  Expect("create by ProgID", s != nullptr);
  if (!s) return 1;

  const std::wstring caps =
      L"{Version=2.0}{Name=LedraII}{Description=Kestrin Ledra II}{Comments=}{Client=1}{Server=1}"
      L"{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}";
  BSTR r = nullptr;
  std::wstring got;

  got = (s->Install(&r), Take(r));
  Expect("Install", got.empty(), got);

  Bstr data(L"{DBFile(S25)=C:\\nowhere\\data\\a_sname.dbf}"), user(L""), page(L"user"), rd(L"{A(S1)=1}");
  IDispatch* cb = nullptr;
  got = (s->Initialize(&data.b, &user.b, &cb, &r), Take(r));
  Expect("Initialize answers empty", got.empty(), got);
  Expect("Initialize leaves its by-reference text alone", std::wstring(data.b) == L"{DBFile(S25)=C:\\nowhere\\data\\a_sname.dbf}");

  got = (s->Capabilities(&r), Take(r));
  Expect("Capabilities", got == caps, got);

  VARIANT_BOOL blocked = VARIANT_TRUE;
  Expect("Blocked is false", SUCCEEDED(s->Blocked(&blocked)) && blocked == VARIANT_FALSE);

  got = WithDialogClosed([&] { return (s->Configure(&rd.b, &page.b, &r), Take(r)); });
  Expect("Configure returns the record with its page", got == L"{A(S1)=1}{Page(S4)=USER}", got);

  Bstr prop(L"Anything");
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = 7;
  got = (s->SetProperty(&prop.b, &value, &r), Take(r));
  Expect("SetProperty", got.empty(), got);
  got = (s->GetProperty(&prop.b, &r), Take(r));
  Expect("GetProperty", got.empty(), got);

  VARIANT init;
  VariantInit(&init);
  Expect("InitializeReal answers an empty variant", SUCCEEDED(s->InitializeReal(&init)) && V_VT(&init) == VT_EMPTY);

  VARIANT_BOOL start = VARIANT_FALSE, running = VARIANT_TRUE;
  Expect("CheckRunning answers false", SUCCEEDED(s->CheckRunning(&start, &running)) && running == VARIANT_FALSE);

  got = (s->CapabilitiesReal(&r), Take(r));
  Expect("CapabilitiesReal", caps.size() > got.size() && caps.compare(caps.size() - got.size(), got.size(), got) == 0, got);

  // The rest of the contract answers without failing, whatever the data.
  Bstr empty(L"");
  Bstr find(L"{Tel(S11)=01234567890}");
  HRESULT all = S_OK;
  auto call = [&](HRESULT hr) { if (FAILED(hr)) all = hr; SysFreeString(r); r = nullptr; };
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
  _Session* second = CreateSession();
  Expect("second Session", second != nullptr);
  if (second) second->Release();
  s->Release();

  Expect("DllCanUnloadNow once all are released", CanUnloadNow() == S_OK);

  CoUninitialize();
  return Finish();
}
