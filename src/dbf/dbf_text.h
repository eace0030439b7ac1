// Text of one table's code page. The platform's Locale::Decode is the only
// authority on a code page; for single-byte code pages the engine asks it
// once for all 256 bytes and then decodes fields by table look-up, which
// keeps a full scan cheap, and searches that table to encode query values
// into the stored bytes they are compared with.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/text.h"

namespace ledra::dbf {

class TableText {
 public:
  // codepage: Windows code page, 0 for the machine's ANSI code page.
  explicit TableText(uint32_t codepage);

  uint32_t codepage() const { return codepage_; }
  bool single_byte() const { return single_byte_; }

  // Replaces *out with the text of n stored bytes.
  void Decode(const uint8_t* bytes, size_t n, Text* out) const;

  // The stored bytes of a text. A character the code page cannot hold
  // becomes "?", as the ANSI conversion of the original SQL text made it.
  std::string Encode(const Text& s) const;

 private:
  uint32_t codepage_;
  bool single_byte_ = false;
  std::array<char16_t, 256> to_text_{};
};

}  // namespace ledra::dbf
