// The dialogs of Configure as the portable core sees them: the hidden owner
// window, the controls of each dialog as its handlers read and set them, the
// handlers the platform calls, and the platform's way of showing them.
// src/platform/win32 holds the real ones, tests/fakes the ones the unit
// tests drive.
#pragma once

#include <cstdint>
#include <memory>

#include "base/text.h"

namespace ledra {

// What frmMain's open-file dialog is asked: its title, its filter as
// "description|pattern" pairs, the default extension, the file name it
// starts with and the folder it opens in ("": the system's choice).
struct OpenFileRequest {
  Text title;
  Text filter;
  Text default_ext;
  Text file_name;
  Text initial_folder;
};

// The hidden owner window of the dialogs, created on first use per thread.
class OwnerWindow {
 public:
  virtual ~OwnerWindow() = default;
  virtual uintptr_t Handle() const = 0;
  // Shows the open-file dialog modally; the chosen file's full path, or ""
  // when the user cancelled.
  virtual Text ShowOpen(const OpenFileRequest& request) = 0;
};

// The controls of frmConfig as its handlers read and set them. Check box
// values are those of the runtime: 0 unchecked, 1 checked, 2 greyed.
class ConfigView {
 public:
  virtual ~ConfigView() = default;
  virtual void SetCaption(const Text& s) = 0;
  virtual void SetTabCaption(int tab, const Text& s) = 0;
  virtual void SelectTab(int tab) = 0;
  virtual Text DbFile() const = 0;
  virtual void SetDbFile(const Text& s) = 0;
  virtual int Search(int index) const = 0;
  virtual void SetSearch(int index, int value) = 0;
  // fData, the frame of the check boxes; the hint beneath it shows while it
  // is hidden.
  virtual void ShowTables(bool visible) = 0;
  // SetWindowPos with HWND_TOPMOST (true) or HWND_NOTOPMOST (false), no move
  // and no resize.
  virtual void SetTopmost(bool on) = 0;
  // Ends the modal dialog.
  virtual void Close() = 0;
};

// The controls of frmAction: the combo box of actions.
class ActionView {
 public:
  virtual ~ActionView() = default;
  virtual void AddItem(const Text& s) = 0;
  virtual int ListCount() const = 0;
  virtual Text List(int index) const = 0;
  virtual int32_t ItemData(int index) const = 0;
  // -1 selects nothing.
  virtual void SetListIndex(int index) = 0;
  virtual Text ActionText() const = 0;
  virtual void SetTopmost(bool on) = 0;
  virtual void Close() = 0;
};

// The event handlers of each dialog, which the platform calls while it
// shows the dialog: opening, becoming active, and the buttons. Closing by
// the title bar calls none of them.
class ConfigHandlers {
 public:
  virtual ~ConfigHandlers() = default;
  virtual void FormLoad(ConfigView& v) = 0;
  virtual void FormActivate(ConfigView& v) = 0;
  virtual void BIniClick(ConfigView& v) = 0;
  virtual void OkClick(ConfigView& v) = 0;
  virtual void CancelClick(ConfigView& v) = 0;
};

class ActionHandlers {
 public:
  virtual ~ActionHandlers() = default;
  virtual void FormLoad(ActionView& v) = 0;
  virtual void FormActivate(ActionView& v) = 0;
  virtual void OkClick(ActionView& v) = 0;
  virtual void CancelClick(ActionView& v) = 0;
};

// Shows a dialog modally and returns once it closed. It is modal to the
// host as the host's own dialogs are: owned by the host's active window on
// the calling thread (the hidden owner window when there is none), with the
// host's windows on that thread disabled while it is up.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void ShowConfig(const OwnerWindow& owner, ConfigHandlers& handlers) = 0;
  virtual void ShowAction(const OwnerWindow& owner, ActionHandlers& handlers) = 0;
};

class Windows {
 public:
  virtual ~Windows() = default;
  virtual std::unique_ptr<OwnerWindow> CreateOwnerWindow() = 0;
};

}  // namespace ledra
