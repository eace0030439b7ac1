// How a Session derives its workers' settings (contacts/settings.h) from
// the host's record at Initialize.
#pragma once

#include "base/text.h"
#include "contacts/settings.h"

namespace ledra {

// Derives the settings from the host's data record. A value that cannot be
// derived keeps what it held, and the failure is logged.
void ApplySettings(const Text& data_rd, Settings& s);

}  // namespace ledra
