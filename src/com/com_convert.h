// BSTR and VARIANT to and from the core's Text and Var.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "base/text.h"
#include "base/variant.h"

namespace ledra::com {

inline Text FromBstr(BSTR b) {
  return b ? Text(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : Text();
}

// A BSTR the caller owns; nullptr only when memory ran out.
inline BSTR ToBstr(const Text& t) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(t.data()), static_cast<UINT>(t.size()));
}

// An object reference that the core may hold and pass around.
class DispatchHolder : public Object {
 public:
  explicit DispatchHolder(IDispatch* d) : d_(d) { if (d_) d_->AddRef(); }
  ~DispatchHolder() override { if (d_) d_->Release(); }
  DispatchHolder(const DispatchHolder&) = delete;
  DispatchHolder& operator=(const DispatchHolder&) = delete;
  IDispatch* get() const { return d_; }

 private:
  IDispatch* d_;
};

// The core's view of a VARIANT (by-reference variants are followed).
Var FromVariant(const VARIANT* v);
// Writes a Var into an empty VARIANT.
HRESULT ToVariant(const Var& v, VARIANT* out);

}  // namespace ledra::com
