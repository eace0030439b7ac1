// Wide text as the host and the platform see it: 16-bit characters, 1-based
// positions in the routines that mirror the original module functions.
#pragma once

#include <cstdint>
#include <string>

namespace ledra {

using Text = std::u16string;

// ASCII-only conversions, for literals and file names in tests and tools.
Text FromAscii(const std::string& s);
std::string ToUtf8(const Text& s);
Text FromUtf8(const std::string& s);

// Comparisons that fold ASCII letters only: for fixed English words and
// names (keywords, driver names, runtime messages), never for user text,
// which goes through the locale.
bool EqualsAsciiNoCase(const Text& a, const Text& b);
bool ContainsAsciiNoCase(const Text& hay, const Text& needle);

// Leading and trailing blanks (code 32 only) removed, as Trim$ does.
Text Trim(const Text& s);
Text RTrim(const Text& s);

}  // namespace ledra
