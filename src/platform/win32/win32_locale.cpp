// Number and date text through oleaut32 with the user's regional settings,
// as the original runtime wrote them; code pages through the system.
#include <windows.h>
#include <oleauto.h>

#include "platform/win32/win32_parts.h"

namespace ledra::win32 {

namespace {

Text Take(BSTR b) {
  Text t = b ? Text(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : Text();
  SysFreeString(b);
  return t;
}

std::wstring Wide(const Text& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

Text Win32Locale::FormatDouble(double v) const {
  BSTR b = nullptr;
  return SUCCEEDED(VarBstrFromR8(v, LOCALE_USER_DEFAULT, 0, &b)) ? Take(b) : Text();
}

Text Win32Locale::FormatSingle(float v) const {
  BSTR b = nullptr;
  return SUCCEEDED(VarBstrFromR4(v, LOCALE_USER_DEFAULT, 0, &b)) ? Take(b) : Text();
}

Text Win32Locale::FormatDate(OleDate d) const {
  BSTR b = nullptr;
  return SUCCEEDED(VarBstrFromDate(d, LOCALE_USER_DEFAULT, 0, &b)) ? Take(b) : Text();
}

Text Win32Locale::FormatLogTime(OleDate d) const {
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(d, &st)) return Text();
  wchar_t date[128] = {0}, time[128] = {0};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
  std::wstring s = std::wstring(date) + L" " + time;
  return Text(s.begin(), s.end());
}

std::optional<double> Win32Locale::ParseNumber(const Text& s) const {
  std::wstring w = Wide(s);
  double v = 0;
  if (FAILED(VarR8FromStr(const_cast<OLECHAR*>(w.c_str()), LOCALE_USER_DEFAULT, 0, &v))) return std::nullopt;
  return v;
}

std::optional<OleDate> Win32Locale::ParseDate(const Text& s) const {
  std::wstring w = Wide(s);
  DATE d = 0;
  if (FAILED(VarDateFromStr(const_cast<OLECHAR*>(w.c_str()), LOCALE_USER_DEFAULT, 0, &d))) return std::nullopt;
  return d;
}

Text Win32Locale::Upper(const Text& s) const {
  if (s.empty()) return s;
  Text r = s;
  CharUpperBuffW(reinterpret_cast<wchar_t*>(&r[0]), static_cast<DWORD>(r.size()));
  return r;
}

std::string Win32Locale::ToAnsi(const Text& s) const {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(s.data()), static_cast<int>(s.size()),
                              nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(s.data()), static_cast<int>(s.size()), &out[0], n,
                        nullptr, nullptr);
  }
  return out;
}

Text Win32Locale::FromAnsi(const std::string& s) const { return Decode(0, s.data(), s.size()); }

Text Win32Locale::Decode(uint32_t codepage, const char* bytes, size_t n) const {
  if (n == 0) return Text();
  UINT cp = codepage ? codepage : CP_ACP;
  int len = MultiByteToWideChar(cp, 0, bytes, static_cast<int>(n), nullptr, 0);
  if (len <= 0) {
    cp = CP_ACP;  // a code page the system lacks: the machine's own
    len = MultiByteToWideChar(cp, 0, bytes, static_cast<int>(n), nullptr, 0);
  }
  Text out(len > 0 ? len : 0, u'\0');
  if (len > 0) MultiByteToWideChar(cp, 0, bytes, static_cast<int>(n), reinterpret_cast<wchar_t*>(&out[0]), len);
  return out;
}

}  // namespace ledra::win32
