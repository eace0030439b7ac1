#include "base/variant.h"

#include <cmath>

#include "base/errors.h"

namespace ledra {

bool Var::IsNumeric() const {
  switch (kind_) {
    case VarKind::Byte: case VarKind::Integer: case VarKind::Long:
    case VarKind::Single: case VarKind::Double: case VarKind::Currency:
      return true;
    default:
      return false;
  }
}

namespace {

Text WholeText(double v) {
  return FromAscii(std::to_string(static_cast<long long>(v)));
}

}  // namespace

Text CStr(const Var& v) {
  switch (v.kind()) {
    case VarKind::Empty: return Text();
    case VarKind::Null: Raise(Err::InvalidUseOfNull);
    case VarKind::Byte: case VarKind::Integer: case VarKind::Long:
      return WholeText(v.number());
    case VarKind::Single: return Sys().locale->FormatSingle(static_cast<float>(v.number()));
    case VarKind::Double: return Sys().locale->FormatDouble(v.number());
    case VarKind::Currency: return Sys().locale->FormatDouble(v.number());
    case VarKind::Date: return Sys().locale->FormatDate(v.number());
    case VarKind::String: return v.text();
    case VarKind::Boolean: return v.number() != 0 ? u"True" : u"False";
    case VarKind::Object: Raise(Err::TypeMismatch);
  }
  Raise(Err::TypeMismatch);
}

Text TextForm(const Var& v) {
  return v.IsNull() ? Text() : CStr(v);
}

double CDbl(const Var& v) {
  switch (v.kind()) {
    case VarKind::Empty: return 0;
    case VarKind::Null: Raise(Err::InvalidUseOfNull);
    case VarKind::String: {
      auto n = Sys().locale->ParseNumber(v.text());
      if (!n) Raise(Err::TypeMismatch);
      return *n;
    }
    case VarKind::Object: Raise(Err::TypeMismatch);
    default: return v.number();
  }
}

bool CBool(const Var& v) {
  if (v.kind() == VarKind::String) {
    if (EqualsAsciiNoCase(Trim(v.text()), u"True")) return true;
    if (EqualsAsciiNoCase(Trim(v.text()), u"False")) return false;
  }
  return CDbl(v) != 0;
}

int32_t RoundToLong(double v) {
  double r = std::nearbyint(v);  // default rounding mode: half to even
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Raise(Err::Overflow);
  return static_cast<int32_t>(r);
}

int16_t RoundToInteger(double v) {
  double r = std::nearbyint(v);
  if (!(r >= -32768.0 && r <= 32767.0)) Raise(Err::Overflow);
  return static_cast<int16_t>(r);
}

int16_t CInt(const Var& v) { return RoundToInteger(CDbl(v)); }

double Val(const Text& s) {
  std::string num;
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\n')) ++i;
  };
  auto digits = [&] {
    bool any = false;
    for (skip(); i < s.size() && s[i] >= u'0' && s[i] <= u'9'; skip()) {
      num += static_cast<char>(s[i++]);
      any = true;
    }
    return any;
  };
  skip();
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) num += static_cast<char>(s[i++]);
  bool mantissa = digits();
  if (i < s.size() && s[i] == u'.') {
    ++i;
    num += '.';
    mantissa = digits() || mantissa;
  }
  if (!mantissa) return 0;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
    size_t save = i;
    std::string keep = num;
    ++i;
    num += 'e';
    skip();
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) num += static_cast<char>(s[i++]);
    if (!digits()) { i = save; num = keep; }
  }
  double r = std::strtod(num.c_str(), nullptr);
  if (std::isinf(r)) Raise(Err::Overflow);
  return r;
}

}  // namespace ledra
