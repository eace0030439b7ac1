// Typing into another program's window as synthetic keyboard input.
#pragma once

#include <cstdint>
#include <functional>

#include "base/platform.h"
#include "base/text.h"
#include "screenpop/desktop.h"

namespace ledra {

// Makes window the foreground window and types keys into the input stream,
// each key down then up, with Ctrl, Shift or Alt held around every key.
// Unless literal, "{n}" is virtual key n, "\" presses Alt and "/" releases
// it: escapes are for the plug-in's own keys. Literal text is data: every
// character arrives as itself on any keyboard layout. Before each key,
// may_type (when given) says whether the keys still go where they should; once
// it says no, nothing more is typed. An Alt pressed by "\" is released at
// the end in any case.
void SendDosKeys(Desktop::Window window, const Text& keys, bool ctrl, bool shift, bool alt, bool literal,
                 const std::function<bool()>& may_type = nullptr);

// One key-down and one key-up of a virtual key, with its own scan code.
void TapKey(uint8_t vk);

}  // namespace ledra
