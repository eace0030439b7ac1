// The one place the dialogs take their display texts from. No catalogue is
// connected: a text is shown as the plug-in defines it, its "<1>" filled in.
#pragma once

#include "base/text.h"

namespace ledra {

// text with every "<1>" replaced by insert1, left to right; an inserted text
// is not scanned again.
Text Translate(const Text& text, const Text& insert1 = Text());

}  // namespace ledra
