// frmConfig and frmAction as Win32 dialogs, and frmMain's file picker.
#pragma once

#include <windows.h>

#include "base/platform.h"
#include "dialogs/dialog_views.h"

namespace ledra::win32 {

// Shows the dialogs from the module's resources, with version 6 of the
// common controls active around them.
class Win32Dialogs : public Dialogs {
 public:
  explicit Win32Dialogs(HMODULE module) : module_(module) {}
  void ShowConfig(const OwnerWindow& owner, ConfigHandlers& handlers) override;
  void ShowAction(const OwnerWindow& owner, ActionHandlers& handlers) override;

 private:
  HMODULE module_;
};

// The common open-file dialog over owner (GetOpenFileNameW); "" when the
// user cancelled, a failure when the dialog itself failed.
Text ShowOpenFile(HMODULE module, HWND owner, const OpenFileRequest& request);

}  // namespace ledra::win32
