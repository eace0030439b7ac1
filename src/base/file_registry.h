// Splitting Windows paths, and reading registry values: the one reader that
// every part reads the registry through, and on it the reads the plug-in
// makes with a default.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/platform.h"
#include "base/text.h"
#include "base/variant.h"

namespace ledra {

// Where the accounting application records its installation folder: the
// tables are in its "data" subfolder, the program is Ledra.exe in it.
inline constexpr const char16_t* kLedraKey = u"SOFTWARE\\Kestrin\\Ledra Client\\System";
inline constexpr const char16_t* kLedraPathValue = u"PathToLedra";

// The part of a path after its last "\" (the whole text when there is none).
Text FileEnd(const Text& path);
// The part before its last "\" ("" for a blank path or one without "\").
Text FilePath(const Text& path);

// One value as the registry holds it.
struct RegistryValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  // A text value (UTF-16), up to its first zero.
  Text AsText() const { return RegistryText(data.data(), data.size()); }
};

// Reads one value of the key root\key_path in the given view; nullopt when
// the key or the value is missing, or the value is longer than max_bytes.
// *key_found (when given) says whether the key opened. The key is closed
// again before it returns.
std::optional<RegistryValue> ReadRegistryValue(uint32_t root, const Text& key_path, const Text& value_name,
                                               Registry::View view = Registry::View::Own,
                                               uint32_t max_bytes = UINT32_MAX, bool* key_found = nullptr);

// A registry value as text (or a 32-bit number when the default is a whole
// number); the default, or "", when the key or the value is missing. A root
// of 0 means HKEY_LOCAL_MACHINE. A REG_EXPAND_SZ text comes expanded.
Var RegistryGet(const Text& key_path, const Text& value_name,
                const std::optional<Var>& def = std::nullopt, uint32_t root = 0,
                Registry::View view = Registry::View::Own);

// The accounting application's installation folder from "PathToLedra", as
// a path: expanded, without surrounding quotes or a final ""; "" when it is
// not set. The application is a 32-bit program: a 64-bit process reads the
// 32-bit view first, then its own.
Text LedraFolder();

}  // namespace ledra
