#include "base/file_registry.h"

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "base/text_matching.h"

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
// A text value is read into 2000 bytes: 999 UTF-16 characters and the zero.
constexpr uint32_t kTextBytes = 2000;

// What a text read falls back to: the default's text form, or "".
Var TextDefault(const std::optional<Var>& def) {
  return def ? Var(TextForm(*def)) : Var(Text());
}

}  // namespace

Var RegistryGet(const Text& key_path, const Text& value_name, const std::optional<Var>& def, uint32_t root,
                Registry::View view) {
  Procedure proc(u" @ basGlobal.RegistryGet");
  Var result;
  Registry* reg = Sys().registry;
  uint32_t hive = root == 0 ? Registry::kLocalMachine : root;
  Registry::Key key = 0;
  long opened = -1;
  proc.Step([&] {
    // A platform without a registry has none of the keys.
    opened = reg ? reg->OpenKey(hive, key_path, &key, view) : kNotFound;
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
      // Blank filler past the size given, as the value is trimmed of
      // trailing blanks before it is cut at its terminating zero.
      std::vector<uint8_t> buffer(kTextBytes + 2);
      for (size_t i = 0; i < buffer.size(); i += 2) buffer[i] = ' ';
      uint32_t type = 0;
      uint32_t size = kTextBytes;
      long rc = reg->QueryValue(key, value_name, &type, buffer.data(), &size);
      if (rc != 0) {
        result = TextDefault(def);
        return;
      }
      Text text;
      for (size_t i = 0; i < buffer.size(); i += 2) text += static_cast<char16_t>(buffer[i] | buffer[i + 1] << 8);
      text = ZTrim(RTrim(text));
      result = Var(type == Registry::kExpandText ? reg->ExpandEnvironment(text) : text);
    });
  }

  // Also after an open that failed for another reason; that close just fails.
  proc.Step([&] {
    if (reg) reg->CloseKey(key);
  });
  return result;
}

Text LedraFolder() {
  // The views in the order read; a 32-bit process sees only the 32-bit one.
  const bool wide_process = sizeof(void*) == 8;
  Text folder;
  for (Registry::View view : {Registry::View::Bits32, Registry::View::Bits64}) {
    if (view == Registry::View::Bits64 && !wide_process) break;
    folder = Trim(TextForm(RegistryGet(kLedraKey, kLedraPathValue, std::nullopt, 0, view)));
    if (!folder.empty()) break;
  }
  if (folder.size() >= 2 && folder.front() == u'"' && folder.back() == u'"') {
    folder = Trim(folder.substr(1, folder.size() - 2));
  }
  while (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  return folder;
}

}  // namespace ledra
