// The platform over the real Win32 API, as the DLL and ledra.exe use it.
#pragma once

#include <windows.h>

#include "base/platform.h"

namespace ledra::win32 {

// The process-wide platform, built on first use for the given module (whose
// version resource supplies the version, comments and application name).
Platform& ThePlatform(HMODULE module);

}  // namespace ledra::win32
