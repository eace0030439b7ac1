// Neutral answers of the screen-pop workers until the automation lands.
#include "session/session.h"

namespace ledra {

bool Session::CheckRunning(bool) { return false; }
Text Session::DoActionReal(const Text&) { return Text(); }

}  // namespace ledra
