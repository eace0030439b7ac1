// The text routines that decide which contacts match a caller's number or
// typed words, and the small string surgery other modules need.
#pragma once

#include <cstdint>

#include "base/text.h"
#include "base/variant.h"

namespace ledra {

// A dialling character: what a telephone number is reduced to, and all that
// the search compares of one ("0123456789*#"). A character code or a byte
// of a table whose code page keeps ASCII (all that tables use).
constexpr bool IsDialling(uint32_t c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

// Dialling characters only ("0123456789*#"); with keep_format, ".()+" that a
// digit follows and single blanks between groups stay as well.
Text DigitsOnly(const Text& source, bool keep_format);
// The last n digits of a number in dialling characters, when it has more than
// n digits and n > 0; otherwise the number unchanged. Used to match a caller's
// international form against the national form a table holds.
Text LastDigits(const Text& dialling, int n);
// Upper-case words of A-Z and 0-9, comma-separated; other runs become one ",".
Text WordsOnly(const Text& source);
// True when every comma-separated word of words begins a word of target.
bool WordsMatch(const Text& target, const Text& words);
// source with every occurrence of sub removed, repeatedly.
Text RidStr(const Text& source, const Text& sub);
// source cut before its first control character (code below 32).
Text ZTrim(const Text& source);

// What ListSearch reads of a list-box or combo-box.
class ListControl {
 public:
  virtual ~ListControl() = default;
  virtual int ListCount() const = 0;
  virtual Text List(int index) const = 0;
  virtual int32_t ItemData(int index) const = 0;
};

// Index of the first item that matches value (by ItemData for a double, by
// its whole text otherwise, in any case), -1 when none does.
int16_t ListSearch(const ListControl& list, const Var& value);

}  // namespace ledra
