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

std::optional<RegistryValue> ReadRegistryValue(uint32_t root, const Text& key_path, const Text& value_name,
                                               Registry::View view, uint32_t max_bytes, bool* key_found) {
  Registry* reg = Sys().registry;
  Registry::Key key = 0;
  // A platform without a registry has none of the keys.
  const bool opened = reg && reg->OpenKey(root, key_path, &key, view) == 0;
  if (key_found) *key_found = opened;
  if (!opened) return std::nullopt;
  std::optional<RegistryValue> value;
  RegistryValue v;
  uint32_t size = 0;
  if (reg->QueryValue(key, value_name, &v.type, nullptr, &size) == 0 && size <= max_bytes) {
    v.data.resize(size);
    if (reg->QueryValue(key, value_name, &v.type, v.data.data(), &size) == 0) {
      v.data.resize(size);
      value = std::move(v);
    }
  }
  reg->CloseKey(key);
  return value;
}

namespace {

// A text value is read up to 2000 bytes: 999 UTF-16 characters and the zero.
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
  proc.Step([&] {
    const bool number = def && (def->kind() == VarKind::Integer || def->kind() == VarKind::Long);
    bool key_found = false;
    auto value = ReadRegistryValue(root == 0 ? Registry::kLocalMachine : root, key_path, value_name, view,
                                   number ? 4 : kTextBytes, &key_found);
    if (!key_found || (!number && !value)) {
      result = TextDefault(def);
    } else if (number) {
      // The type is not checked: the first four bytes as a number.
      uint32_t n = 0;
      if (value) {
        for (size_t i = 0; i < value->data.size(); ++i) n |= static_cast<uint32_t>(value->data[i]) << (8 * i);
      }
      result = value ? Var::Long(static_cast<int32_t>(n)) : *def;
    } else {
      // Trimmed of trailing blanks before it is cut at its terminating zero:
      // blanks of the value itself stay only when a zero follows them.
      Text text;
      for (size_t i = 0; i < value->data.size(); i += 2) {
        text += static_cast<char16_t>(value->data[i] | (i + 1 < value->data.size() ? value->data[i + 1] << 8 : 0));
      }
      text = ZTrim(RTrim(text));
      result = Var(value->type == Registry::kExpandText ? Sys().registry->ExpandEnvironment(text) : text);
    }
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
