// The COM face of a Session: the _Session vtable over the portable core, and
// IDispatch answered from the embedded type library.
#pragma once

#include <windows.h>

#include <vector>

#include "plgLedraII.h"
#include "session/session.h"

namespace ledra::com {

class SessionObject : public _Session {
 public:
  SessionObject();
  virtual ~SessionObject();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override;

  // _Session
  HRESULT STDMETHODCALLTYPE Install(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Uninstall(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Configure(BSTR* rd, BSTR* page, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Initialize(BSTR* data_rd, BSTR* user_rd, IDispatch** callback, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Uninitialize(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Load(BSTR* vars, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Unload(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE FindContact(BSTR rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE FindList(BSTR rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DoAction(BSTR rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CacheStart(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CacheEnd(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CacheRecord(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Capabilities(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Blocked(VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE InstallReal(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE UninitializeReal(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE InitializeReal(VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE LoadReal(BSTR* rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE UnloadReal(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE FindReal(BSTR rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CheckRunning(VARIANT_BOOL* start, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE DoActionReal(BSTR* rd, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CacheRecordReal(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE GetContact(BSTR* typ, VARIANT* res, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE CapabilitiesReal(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE SetProperty(BSTR* prop, VARIANT* value, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE GetProperty(BSTR* prop, BSTR* result) override;

 private:
  class Running;
  template <class F>
  HRESULT Answer(BSTR* result, const char16_t* label, F&& body) noexcept;
  HRESULT Dispatch(ITypeInfo* ti, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err, std::vector<VARIANT>* temps);

  LONG refs_ = 1;
  Session core_;
};

}  // namespace ledra::com
