#include "session/settings.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/file_registry.h"
#include "base/vars.h"

namespace ledra {

namespace {

// Matching a caller's number on its last digits is an administrator's choice
// for the whole machine (a user's own value wins). It is a registry value, not
// a key of the settings record: the configuration dialog writes that record
// whole, with its own keys only, and would drop it.
constexpr const char16_t* kOwnKey = u"Software\\LedraII";
constexpr const char16_t* kMatchLastDigitsValue = u"MatchLastDigits";
constexpr int kMinLastDigits = 6;
constexpr int kMaxLastDigits = 15;
constexpr uint32_t kRegSz = 1, kRegExpandSz = 2, kRegDword = 4;
// Longer values are not looked at: no whole number from 6 to 15 is that long.
constexpr uint32_t kMaxSettingBytes = 63;

// The value as text (a DWORD in decimal); nullopt when it is not there.
std::optional<std::string> RawSetting(uint32_t root) {
  auto value = ReadRegistryValue(root, kOwnKey, kMatchLastDigitsValue, Registry::View::Own, kMaxSettingBytes);
  if (!value) return std::nullopt;
  const std::vector<uint8_t>& data = value->data;
  if (value->type == kRegDword && data.size() == 4) {
    uint32_t v = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    return std::to_string(v);
  }
  if (value->type != kRegSz && value->type != kRegExpandSz) {
    return "(a value of registry type " + std::to_string(value->type) + ")";
  }
  return Sys().locale->ToAnsi(value->AsText());
}

// 0 (off) for an absent or zero value; N for a whole number from 6 to 15;
// anything else is off as well, and said in the log.
int MatchLastDigitsSetting(Procedure& proc) {
  std::optional<std::string> raw = RawSetting(Registry::kCurrentUser);
  if (!raw) raw = RawSetting(Registry::kLocalMachine);
  if (!raw) return 0;
  std::string t = *raw;
  t.erase(0, t.find_first_not_of(" \t"));
  t.erase(t.find_last_not_of(" \t") + 1);
  int n = -1;
  if (!t.empty() && t.size() <= 9 && t.find_first_not_of("0123456789") == std::string::npos) n = std::stoi(t);
  if (n == 0) return 0;
  if (n >= kMinLastDigits && n <= kMaxLastDigits) return n;
  proc.Log(u"MatchLastDigits is \"" + Sys().locale->FromAnsi(*raw) + u"\": a whole number from 6 to 15 was expected;" +
           u" numbers are matched on all their digits");
  return 0;
}

}  // namespace

void ApplySettings(const Text& data_rd, Settings& s) {
  Procedure proc(u" @ plugin.Session.InitializeReal");
  Text file;
  proc.Step([&] { file = TextForm(GetVar(data_rd, u"DBFile")); });
  // The customer table is ?_sname.dbf: its first two characters name the
  // company; too short a name is padded with "x", and no name at all means
  // the default company.
  proc.Step([&] { s.table_prefix = (FileEnd(file) + u"xx").substr(0, 2); });
  proc.Step([&] {
    if (s.table_prefix == u"xx") s.table_prefix = u"z_";
  });
  Text folder;
  proc.Step([&] { folder = FilePath(file); });
  proc.Step([&] {
    if (folder.empty()) {
      folder = LedraFolder() + u"\\data";
    }
  });
  proc.Step([&] { s.data_path = folder; });
  proc.Step([&] { s.use_suppliers = CBool(GetVar(data_rd, u"UseSuppliers", Var::Integer(1))); });
  proc.Step([&] { s.use_customers = CBool(GetVar(data_rd, u"UseCustomers", Var::Integer(1))); });
  proc.Step([&] { s.match_last_digits = MatchLastDigitsSetting(proc); });
}

}  // namespace ledra
