// A variant value with the kinds the plug-in's routines pass around, and the
// runtime's conversions between them (CStr, CDbl, CBool, CInt).
#pragma once

#include <cstdint>
#include <memory>

#include "base/platform.h"
#include "base/text.h"

namespace ledra {

enum class VarKind {
  Empty,
  Null,
  Byte,      // 8-bit unsigned
  Integer,   // 16-bit signed
  Long,      // 32-bit signed
  Single,
  Double,
  Currency,  // fixed point, 4 decimals, held scaled by 10000
  Date,
  String,
  Boolean,
  Object,
};

// An object reference held in a variant; the core never looks inside.
class Object {
 public:
  virtual ~Object() = default;
};

class Var {
 public:
  Var() = default;
  Var(const Text& s) : kind_(VarKind::String), text_(s) {}          // NOLINT: as the runtime
  Var(const char16_t* s) : kind_(VarKind::String), text_(s) {}      // NOLINT
  static Var Null() { return Var(VarKind::Null); }
  static Var Byte(uint8_t v) { return Number(VarKind::Byte, v); }
  static Var Integer(int16_t v) { return Number(VarKind::Integer, v); }
  static Var Long(int32_t v) { return Number(VarKind::Long, v); }
  static Var Single(float v) { return Number(VarKind::Single, v); }
  static Var Double(double v) { return Number(VarKind::Double, v); }
  static Var Currency(int64_t scaled) { Var r(VarKind::Currency); r.cy_ = scaled; return r; }
  static Var Date(OleDate d) { return Number(VarKind::Date, d); }
  static Var Boolean(bool b) { return Number(VarKind::Boolean, b ? -1 : 0); }
  static Var Obj(std::shared_ptr<Object> o) { Var r(VarKind::Object); r.obj_ = std::move(o); return r; }

  VarKind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == VarKind::Empty; }
  bool IsNull() const { return kind_ == VarKind::Null; }
  bool IsNumeric() const;  // Byte to Currency
  const Text& text() const { return text_; }  // String kind only
  double number() const { return kind_ == VarKind::Currency ? cy_ / 10000.0 : num_; }
  int64_t currency() const { return cy_; }
  const std::shared_ptr<Object>& object() const { return obj_; }

 private:
  explicit Var(VarKind k) : kind_(k) {}
  static Var Number(VarKind k, double v) { Var r(k); r.num_ = v; return r; }

  VarKind kind_ = VarKind::Empty;
  double num_ = 0;
  int64_t cy_ = 0;
  Text text_;
  std::shared_ptr<Object> obj_;
};

// CStr: Empty gives "", numbers and dates their regional text form, booleans
// "True"/"False". Null and objects fail as the runtime does.
Text CStr(const Var& v);
// Text form as written into records: like CStr, but Null gives "".
Text TextForm(const Var& v);
// CDbl; text is parsed with the regional settings; Type mismatch otherwise.
double CDbl(const Var& v);
// CBool: numbers are true when not 0; text as a number or True/False.
bool CBool(const Var& v);
// CInt: rounded half to even, Overflow past the range.
int16_t CInt(const Var& v);

// Val: the number at the start of a text (sign, digits, ".", exponent);
// blanks, tabs and line feeds inside are skipped; 0 when there is none.
double Val(const Text& s);

// Rounds half to even and checks the range, as the runtime's CLng/CInt do.
int32_t RoundToLong(double v);
int16_t RoundToInteger(double v);

}  // namespace ledra
