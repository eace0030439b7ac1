#include "base/platform.h"

namespace ledra {

Text RegistryText(const uint8_t* data, size_t size) {
  Text t;
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    t += c;
  }
  return t;
}

}  // namespace ledra
