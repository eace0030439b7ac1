#include "com/com_convert.h"

namespace ledra::com {

Var FromVariant(const VARIANT* v) {
  if (!v) return Var();
  if (V_VT(v) == (VT_VARIANT | VT_BYREF)) return FromVariant(V_VARIANTREF(v));
  bool byref = (V_VT(v) & VT_BYREF) != 0;
  switch (V_VT(v) & ~VT_BYREF) {
    case VT_EMPTY: return Var();
    case VT_NULL: return Var::Null();
    case VT_UI1: return Var::Byte(byref ? *V_UI1REF(v) : V_UI1(v));
    case VT_I2: return Var::Integer(byref ? *V_I2REF(v) : V_I2(v));
    case VT_I4: return Var::Long(byref ? *V_I4REF(v) : V_I4(v));
    case VT_R4: return Var::Single(byref ? *V_R4REF(v) : V_R4(v));
    case VT_R8: return Var::Double(byref ? *V_R8REF(v) : V_R8(v));
    case VT_CY: return Var::Currency((byref ? *V_CYREF(v) : V_CY(v)).int64);
    case VT_DATE: return Var::Date(byref ? *V_DATEREF(v) : V_DATE(v));
    case VT_BSTR: return Var(FromBstr(byref ? *V_BSTRREF(v) : V_BSTR(v)));
    case VT_BOOL: return Var::Boolean((byref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
    case VT_DISPATCH: return Var::Obj(std::make_shared<DispatchHolder>(byref ? *V_DISPATCHREF(v) : V_DISPATCH(v)));
    default: {
      // Anything else is taken by its text form, as the runtime would.
      VARIANT t;
      VariantInit(&t);
      Var r;
      if (SUCCEEDED(VariantChangeType(&t, const_cast<VARIANT*>(v), 0, VT_BSTR))) r = Var(FromBstr(V_BSTR(&t)));
      VariantClear(&t);
      return r;
    }
  }
}

HRESULT ToVariant(const Var& v, VARIANT* out) {
  VariantInit(out);
  switch (v.kind()) {
    case VarKind::Empty: return S_OK;
    case VarKind::Null: V_VT(out) = VT_NULL; return S_OK;
    case VarKind::Byte: V_VT(out) = VT_UI1; V_UI1(out) = static_cast<BYTE>(v.number()); return S_OK;
    case VarKind::Integer: V_VT(out) = VT_I2; V_I2(out) = static_cast<SHORT>(v.number()); return S_OK;
    case VarKind::Long: V_VT(out) = VT_I4; V_I4(out) = static_cast<LONG>(v.number()); return S_OK;
    case VarKind::Single: V_VT(out) = VT_R4; V_R4(out) = static_cast<float>(v.number()); return S_OK;
    case VarKind::Double: V_VT(out) = VT_R8; V_R8(out) = v.number(); return S_OK;
    case VarKind::Currency: V_VT(out) = VT_CY; V_CY(out).int64 = v.currency(); return S_OK;
    case VarKind::Date: V_VT(out) = VT_DATE; V_DATE(out) = v.number(); return S_OK;
    case VarKind::Boolean: V_VT(out) = VT_BOOL; V_BOOL(out) = v.number() != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VarKind::String:
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = ToBstr(v.text());
      return V_BSTR(out) ? S_OK : E_OUTOFMEMORY;
    case VarKind::Object: {
      auto* holder = dynamic_cast<DispatchHolder*>(v.object().get());
      V_VT(out) = VT_DISPATCH;
      V_DISPATCH(out) = holder ? holder->get() : nullptr;
      if (V_DISPATCH(out)) V_DISPATCH(out)->AddRef();
      return S_OK;
    }
  }
  return S_OK;
}

}  // namespace ledra::com
