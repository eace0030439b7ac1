// Typing into another program's window as synthetic keyboard input.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/text.h"

namespace ledra {

// Makes window the foreground window and types keys into the input stream,
// each key down then up, with Ctrl, Shift or Alt held around every key. Unless
// literal, "{n}" is virtual key n, "\" presses Alt and "/" releases it.
void SendDosKeys(Desktop::Window window, const Text& keys, bool ctrl, bool shift, bool alt, bool literal);

// One key-down and one key-up of a virtual key, with its own scan code.
void TapKey(uint8_t vk);

}  // namespace ledra
