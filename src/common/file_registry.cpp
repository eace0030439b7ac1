#include "common/file_registry.h"

#include <string>

#include "common/errors.h"
#include "common/platform.h"
#include "common/text_matching.h"

namespace ledra {

Text FileEnd(const Text& path) {
  Procedure proc(u" @ basGlobal.FileEnd");
  Text r;
  proc.Step([&] {
    size_t slash = path.rfind(u'\\');
    r = slash == Text::npos ? path : path.substr(slash + 1);
  });
  return r;
}

Text FilePath(const Text& path) {
  Procedure proc(u" @ basGlobal.FilePath");
  Text r;
  proc.Step([&] {
    if (Trim(path).empty()) return;
    size_t slash = path.rfind(u'\\');
    if (slash != Text::npos) r = path.substr(0, slash);
  });
  return r;
}

namespace {

constexpr long kNotFound = 2;

// What a text read falls back to: the default's text form, or "".
Var TextDefault(const std::optional<Var>& def) {
  return def ? Var(TextForm(*def)) : Var(Text());
}

}  // namespace

Var RegistryGet(const Text& key_path, const Text& value_name, const std::optional<Var>& def, uint32_t root) {
  Procedure proc(u" @ basGlobal.RegistryGet");
  Var result;
  Registry* reg = Sys().registry;
  uint32_t hive = root == 0 ? Registry::kLocalMachine : root;
  Registry::Key key = 0;
  long opened = -1;
  proc.Step([&] {
    // A platform without a registry has none of the keys.
    opened = reg ? reg->OpenKey(hive, key_path, &key) : kNotFound;
  });

  if (opened == kNotFound) {
    proc.Step([&] { result = TextDefault(def); });
    return result;
  }

  bool number = def && (def->kind() == VarKind::Integer || def->kind() == VarKind::Long);
  if (number) {
    proc.Step([&] {
      int32_t value = 0;
      uint32_t type = 0;
      uint32_t size = 4;
      long rc = reg->QueryValue(key, value_name, &type, reinterpret_cast<uint8_t*>(&value), &size);
      result = rc == 0 ? Var::Long(value) : *def;
    });
  } else {
    proc.Step([&] {
      // Blank filler two bytes past the size given, as the value is trimmed
      // of trailing blanks before it is cut at its terminating zero.
      std::string buffer(2002, ' ');
      uint32_t type = 0;
      uint32_t size = 2000;
      long rc = reg->QueryValue(key, value_name, &type, reinterpret_cast<uint8_t*>(&buffer[0]), &size);
      result = rc == 0 ? Var(ZTrim(RTrim(Sys().locale->FromAnsi(buffer)))) : TextDefault(def);
    });
  }

  // Also after an open that failed for another reason; that close just fails.
  proc.Step([&] {
    if (reg) reg->CloseKey(key);
  });
  return result;
}

}  // namespace ledra
