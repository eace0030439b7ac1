// The one place the dialogs take their display texts from.
#pragma once

#include <optional>

#include "common/text.h"
#include "common/variant.h"

namespace ledra {

// The phrase (or, without one, the default) with "<1>" and "<2>" filled in.
Text Translate(const Text& def, const std::optional<Var>& phrase = std::nullopt,
               const Text& insert1 = Text(), const Text& insert2 = Text());

}  // namespace ledra
