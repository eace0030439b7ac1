#include "com/session_object.h"

#include <new>
#include <vector>

#include "com/com_convert.h"
#include "com/module.h"
#include "base/errors.h"

namespace ledra::com {

namespace {

Text In(const BSTR* b) { return b ? FromBstr(*b) : Text(); }

}  // namespace

// A call in progress holds its object and the module: a host may release the
// Session from a message handled inside the call (a search letting messages
// through, a wait, a dialog), and the object goes only once the call is over.
class SessionObject::Running {
 public:
  explicit Running(SessionObject* o) : o_(o) {
    o_->AddRef();
    ModuleAddRef();
  }
  ~Running() {
    ModuleRelease();
    o_->Release();
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  SessionObject* o_;
};

// Runs one method of the core and hands its answer back as a BSTR. The core
// never throws; this is the last guard so that nothing can cross the
// interface even when memory runs out in the conversion itself.
template <class F>
HRESULT SessionObject::Answer(BSTR* result, const char16_t* label, F&& body) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  Running running(this);
  try {
    *result = ToBstr(body());
    return *result ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    Procedure(label).Log(DescribeCurrentException());
    *result = SysAllocString(L"");
    return S_OK;
  }
}

SessionObject::SessionObject() { ModuleAddRef(); }
SessionObject::~SessionObject() { ModuleRelease(); }

HRESULT SessionObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__Session)) {
    *out = static_cast<_Session*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG SessionObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG SessionObject::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT SessionObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT SessionObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return SessionTypeInfo(info);
}

HRESULT SessionObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  ITypeInfo* ti = nullptr;
  HRESULT hr = SessionTypeInfo(&ti);
  if (FAILED(hr)) return hr;
  hr = DispGetIDsOfNames(ti, names, count, ids);
  ti->Release();
  return hr;
}

namespace {

// The parameter types of the method with the given dispatch ID.
bool ParamTypes(ITypeInfo* ti, DISPID id, std::vector<TYPEDESC>* types) {
  TYPEATTR* attr = nullptr;
  if (FAILED(ti->GetTypeAttr(&attr))) return false;
  bool found = false;
  for (UINT i = 0; i < attr->cFuncs && !found; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(ti->GetFuncDesc(i, &fd))) continue;
    if (fd->memid == id && (fd->invkind & INVOKE_FUNC)) {
      for (SHORT p = 0; p < fd->cParams; ++p) {
        // The retval parameter is not passed by the caller.
        if (fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) continue;
        types->push_back(fd->lprgelemdescParam[p].tdesc);
      }
      found = true;
    }
    ti->ReleaseFuncDesc(fd);
  }
  ti->ReleaseTypeAttr(attr);
  return found;
}

}  // namespace

// Nothing is thrown past the dispatcher: memory that runs out while the
// arguments are prepared answers E_OUTOFMEMORY, anything else
// DISP_E_EXCEPTION with its description.
HRESULT SessionObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  Running running(this);
  ITypeInfo* ti = nullptr;
  HRESULT hr = SessionTypeInfo(&ti);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> temps;
  try {
    hr = Dispatch(ti, id, flags, params, result, excep, arg_err, &temps);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = DISP_E_EXCEPTION;
    try {
      const Text description = DescribeCurrentException();
      Procedure(u" @ plugin.Session.Invoke").Log(description);
      if (excep) {
        *excep = EXCEPINFO{};
        excep->scode = E_UNEXPECTED;
        excep->bstrSource = SysAllocString(L"plgLedraII.Session");
        excep->bstrDescription = ToBstr(description);
      }
    } catch (...) {
      // Not even the description fits: the code alone says it.
    }
  }
  for (auto& t : temps) VariantClear(&t);
  ti->Release();
  return hr;
}

// Script hosts pass their variables by reference as VARIANT*, and literals
// by value, where a by-reference BSTR, VARIANT_BOOL or IDispatch* is
// declared. The dispatcher of the type library accepts neither, so each such
// argument is re-pointed at a value of the declared type (kept in temps,
// which the caller clears). Methods never change their by-reference
// arguments, so nothing needs copying back.
HRESULT SessionObject::Dispatch(ITypeInfo* ti, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* excep, UINT* arg_err, std::vector<VARIANT>* temps_out) {
  std::vector<TYPEDESC> types;
  DISPPARAMS call = params ? *params : DISPPARAMS{nullptr, nullptr, 0, 0};
  std::vector<VARIANT> args;
  std::vector<VARIANT>& temps = *temps_out;
  if (params && params->cArgs > 0 && params->cNamedArgs == 0 && ParamTypes(ti, id, &types) &&
      types.size() == params->cArgs) {
    args.assign(params->rgvarg, params->rgvarg + params->cArgs);
    temps.resize(params->cArgs);  // VT_EMPTY each
    for (UINT i = 0; i < params->cArgs; ++i) {
      const TYPEDESC& td = types[params->cArgs - 1 - i];  // arguments come last-first
      if (td.vt != VT_PTR || !td.lptdesc) continue;
      VARTYPE base = td.lptdesc->vt;
      VARIANT& a = args[i];
      if (V_VT(&a) == (base | VT_BYREF)) continue;
      VARIANT& t = temps[i];
      if (base == VT_VARIANT) {
        // A literal where a VARIANT* is declared.
        if (FAILED(VariantCopyInd(&t, &a))) continue;
        V_VT(&a) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&a) = &t;
        continue;
      }
      if (base != VT_BSTR && base != VT_BOOL && base != VT_DISPATCH) continue;
      VARIANT inner;
      VariantInit(&inner);
      if (FAILED(VariantCopyInd(&inner, &a))) continue;
      if (V_VT(&inner) == (VT_VARIANT | VT_BYREF)) {
        VARIANT deeper;
        VariantInit(&deeper);
        VariantCopyInd(&deeper, V_VARIANTREF(&inner));
        VariantClear(&inner);
        inner = deeper;
      }
      if (base == VT_DISPATCH && (V_VT(&inner) == VT_EMPTY || V_VT(&inner) == VT_NULL)) {
        V_VT(&t) = VT_DISPATCH;
        V_DISPATCH(&t) = nullptr;
      } else if (base == VT_DISPATCH && V_VT(&inner) == VT_UNKNOWN) {
        V_VT(&t) = VT_DISPATCH;
        V_DISPATCH(&t) = nullptr;
        if (V_UNKNOWN(&inner)) V_UNKNOWN(&inner)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&V_DISPATCH(&t)));
      } else if (FAILED(VariantChangeType(&t, &inner, 0, base))) {
        VariantClear(&inner);
        continue;  // leave it to the dispatcher to report the mismatch
      }
      VariantClear(&inner);
      V_VT(&a) = base | VT_BYREF;
      if (base == VT_BSTR) V_BSTRREF(&a) = &V_BSTR(&t);
      if (base == VT_BOOL) V_BOOLREF(&a) = &V_BOOL(&t);
      if (base == VT_DISPATCH) V_DISPATCHREF(&a) = &V_DISPATCH(&t);
    }
    call.rgvarg = args.data();
  }
  return DispInvoke(static_cast<_Session*>(this), ti, id, flags, &call, result, excep, arg_err);
}

HRESULT SessionObject::Install(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Install", [&] { return core_.Install(); });
}
HRESULT SessionObject::Uninstall(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Uninstall", [&] { return core_.Uninstall(); });
}
HRESULT SessionObject::Configure(BSTR* rd, BSTR* page, BSTR* result) {
  return Answer(result, u" @ plugin.Session.Configure", [&] { return core_.Configure(In(rd), In(page)); });
}
HRESULT SessionObject::Initialize(BSTR* data_rd, BSTR* user_rd, IDispatch** callback, BSTR* result) {
  return Answer(result, u" @ plugin.Session.Initialize", [&] {
    std::shared_ptr<Object> cb;
    if (callback && *callback) cb = std::make_shared<DispatchHolder>(*callback);
    return core_.Initialize(In(data_rd), In(user_rd), std::move(cb));
  });
}
HRESULT SessionObject::Uninitialize(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Uninitialize", [&] { return core_.Uninitialize(); });
}
HRESULT SessionObject::Load(BSTR* vars, BSTR* result) {
  return Answer(result, u" @ plugin.Session.Load", [&] { return core_.Load(In(vars)); });
}
HRESULT SessionObject::Unload(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Unload", [&] { return core_.Unload(); });
}
HRESULT SessionObject::FindContact(BSTR rd, BSTR* result) {
  return Answer(result, u" @ plugin.Session.FindContact", [&] { return core_.FindContact(FromBstr(rd)); });
}
HRESULT SessionObject::FindList(BSTR rd, BSTR* result) {
  return Answer(result, u" @ plugin.Session.FindList", [&] { return core_.FindList(FromBstr(rd)); });
}
HRESULT SessionObject::DoAction(BSTR rd, BSTR* result) {
  return Answer(result, u" @ plugin.Session.DoAction", [&] { return core_.DoAction(FromBstr(rd)); });
}
HRESULT SessionObject::CacheStart(BSTR* result) {
  return Answer(result, u" @ plugin.Session.CacheStart", [&] { return core_.CacheStart(); });
}
HRESULT SessionObject::CacheEnd(BSTR* result) {
  return Answer(result, u" @ plugin.Session.CacheEnd", [&] { return core_.CacheEnd(); });
}
HRESULT SessionObject::CacheRecord(BSTR* result) {
  return Answer(result, u" @ plugin.Session.CacheRecord", [&] { return core_.CacheRecord(); });
}
HRESULT SessionObject::Capabilities(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Capabilities", [&] { return core_.Capabilities(); });
}
HRESULT SessionObject::Blocked(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  Running running(this);
  *result = core_.Blocked() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT SessionObject::InstallReal(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Install", [&] { return core_.InstallReal(); });
}
HRESULT SessionObject::UninitializeReal(BSTR* result) {
  return Answer(result, u" @ plugin.Session.Uninitialize", [&] { return core_.UninitializeReal(); });
}
HRESULT SessionObject::InitializeReal(VARIANT* result) {
  if (!result) return E_POINTER;
  VariantInit(result);
  Running running(this);
  try {
    return ToVariant(core_.InitializeReal(), result);
  } catch (...) {
    Procedure(u" @ plugin.Session.InitializeReal").Log(DescribeCurrentException());
    return S_OK;
  }
}
HRESULT SessionObject::LoadReal(BSTR* rd, BSTR* result) {
  return Answer(result, u" @ plgLedraII.Load", [&] { return core_.LoadReal(In(rd)); });
}
HRESULT SessionObject::UnloadReal(BSTR* result) {
  return Answer(result, u" @ plgLedraII.Unload", [&] { return core_.UnloadReal(); });
}
HRESULT SessionObject::FindReal(BSTR rd, BSTR* result) {
  return Answer(result, u" @ plgLedraII.Find", [&] { return core_.FindReal(FromBstr(rd)); });
}
HRESULT SessionObject::CheckRunning(VARIANT_BOOL* start, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  Running running(this);
  try {
    *result = core_.CheckRunning(start && *start != VARIANT_FALSE) ? VARIANT_TRUE : VARIANT_FALSE;
  } catch (...) {
    Procedure(u" @ plgLedraII.CheckRunning").Log(DescribeCurrentException());
    *result = VARIANT_FALSE;
  }
  return S_OK;
}
HRESULT SessionObject::DoActionReal(BSTR* rd, BSTR* result) {
  return Answer(result, u" @ plugin.Session.DoAction", [&] { return core_.DoActionReal(In(rd)); });
}
HRESULT SessionObject::CacheRecordReal(BSTR* result) {
  return Answer(result, u" @ plgLedraII.CacheRecordReal", [&] { return core_.CacheRecordReal(); });
}
HRESULT SessionObject::GetContact(BSTR* typ, VARIANT* res, BSTR* result) {
  return Answer(result, u" @ plgLedraII.GetContact", [&] { return core_.GetContact(In(typ), FromVariant(res)); });
}
HRESULT SessionObject::CapabilitiesReal(BSTR* result) {
  return Answer(result, u" @ plugin.plgLedraII.Capabilities", [&] { return core_.CapabilitiesReal(); });
}
HRESULT SessionObject::SetProperty(BSTR* prop, VARIANT* value, BSTR* result) {
  return Answer(result, u" @ plugin.plgLedraII.SetProperty",
                [&] { return core_.SetProperty(In(prop), FromVariant(value)); });
}
HRESULT SessionObject::GetProperty(BSTR* prop, BSTR* result) {
  return Answer(result, u" @ plugin.plgLedraII.GetProperty", [&] { return core_.GetProperty(In(prop)); });
}

}  // namespace ledra::com
