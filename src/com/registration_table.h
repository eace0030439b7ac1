// The registry entries of the COM registration, in one table: the DLL's own
// DllRegisterServer writes them, and the installer's registry fragment is
// generated from them, so the two registrations cannot drift apart.
// Portable: the generator that writes the installer fragment runs on the
// build machine.
//
// Keys are relative to HKEY_CLASSES_ROOT. Tokens filled in by the writer:
//   %CLSID% %LIBID% %IID%  the class, type library and interface IDs in
//                          registry form ({...}, upper case)
//   %DLL%                  the full path of LedraII.dll
//   %PLATFORM%             win32 or win64, the type library's platform
#pragma once

#include <string>

namespace ledra::com {

struct RegistryEntry {
  const char* key;
  const char* name;  // nullptr: the key's default value
  const char* value;
};

inline constexpr RegistryEntry kRegistration[] = {
    {"plgLedraII.Session", nullptr, "plgLedraII.Session"},
    {"plgLedraII.Session\\CLSID", nullptr, "%CLSID%"},
    {"CLSID\\%CLSID%", nullptr, "plgLedraII.Session"},
    {"CLSID\\%CLSID%\\ProgID", nullptr, "plgLedraII.Session"},
    // The ProgID carries no version, so it is its own version-independent one.
    {"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, "plgLedraII.Session"},
    {"CLSID\\%CLSID%\\InprocServer32", nullptr, "%DLL%"},
    {"CLSID\\%CLSID%\\InprocServer32", "ThreadingModel", "Apartment"},
    {"CLSID\\%CLSID%\\TypeLib", nullptr, "%LIBID%"},
    {"CLSID\\%CLSID%\\VERSION", nullptr, "2.0"},
    {"CLSID\\%CLSID%\\Programmable", nullptr, ""},
    // The embedded type library, as RegisterTypeLib records one (without
    // HELPDIR: there is no help file).
    {"TypeLib\\%LIBID%\\2.0", nullptr, "Kestrin Ledra II"},
    {"TypeLib\\%LIBID%\\2.0\\FLAGS", nullptr, "0"},
    {"TypeLib\\%LIBID%\\2.0\\0\\%PLATFORM%", nullptr, "%DLL%"},
    // The dual interface, marshalled by the automation marshaler.
    {"Interface\\%IID%", nullptr, "_Session"},
    {"Interface\\%IID%\\ProxyStubClsid", nullptr, "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\%IID%\\ProxyStubClsid32", nullptr, "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\%IID%\\TypeLib", nullptr, "%LIBID%"},
    {"Interface\\%IID%\\TypeLib", "Version", "2.0"},
};

// The trees the registration owns; unregistering deletes them whole.
inline constexpr const char* kRegistrationRoots[] = {
    "plgLedraII.Session", "CLSID\\%CLSID%", "Interface\\%IID%", "TypeLib\\%LIBID%\\2.0\\0\\%PLATFORM%"};
// The type library's key is shared between the registry views on 64-bit
// Windows, one platform entry per architecture: it goes once none is left.
inline constexpr char kTypeLibRoot[] = "TypeLib\\%LIBID%";
inline constexpr char kTypeLibPlatforms[] = "TypeLib\\%LIBID%\\2.0\\0";

struct RegistrationValues {
  std::string clsid, libid, iid, dll, platform;
};

// text with every token replaced; each piece of literal text goes through
// `literal` first (the installer fragment escapes it, the DLL keeps it).
template <typename Literal>
std::string ExpandRegistration(const char* text, const RegistrationValues& v, Literal literal) {
  static constexpr struct {
    const char* token;
    std::string RegistrationValues::*value;
  } kTokens[] = {{"%CLSID%", &RegistrationValues::clsid}, {"%LIBID%", &RegistrationValues::libid},
                 {"%IID%", &RegistrationValues::iid},     {"%DLL%", &RegistrationValues::dll},
                 {"%PLATFORM%", &RegistrationValues::platform}};
  std::string out, plain;
  const std::string s = text;
  for (size_t i = 0; i < s.size();) {
    bool matched = false;
    for (const auto& t : kTokens) {
      if (s.compare(i, std::char_traits<char>::length(t.token), t.token) == 0) {
        out += literal(plain);
        plain.clear();
        out += v.*t.value;
        i += std::char_traits<char>::length(t.token);
        matched = true;
        break;
      }
    }
    if (!matched) plain += s[i++];
  }
  return out + literal(plain);
}

inline std::string ExpandRegistration(const char* text, const RegistrationValues& v) {
  return ExpandRegistration(text, v, [](const std::string& s) { return s; });
}

}  // namespace ledra::com
