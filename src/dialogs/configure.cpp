// Configure: the host's record goes into ConfigRd with its page, the page's
// dialog edits it modally, and ConfigRd goes back.
#include "base/errors.h"
#include "base/vars.h"
#include "base/modal.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialog_views.h"

namespace ledra {

DialogData& DialogModule() {
  thread_local DialogData data;
  return data;
}

OwnerWindow* FrmMain() {
  DialogData& m = DialogModule();
  if (!m.frm_main && Sys().windows) m.frm_main = Sys().windows->CreateOwnerWindow();
  return m.frm_main.get();
}

Text ShowConfigure(const Text& rd, const Text& page) {
  Procedure proc(u" @ plugin.Session.Configure");
  DialogData& m = DialogModule();
  Text r;
  if (ModalWindowUp()) {
    // The host handled a message while a dialog or message box of ours is
    // up and asks for a dialog: no second one, and ConfigRd stays the open
    // dialog's. The answer is the one Cancel would give.
    proc.Step([&] {
      r = rd;
      AddVar(r, u"Page", UCase(page));
    });
    proc.Log(u"A settings dialog is open already; answered as cancelled");
    return r;
  }
  proc.Step([&] { m.config_rd = rd; });
  proc.Step([&] { AddVar(m.config_rd, u"Page", UCase(page)); });
  proc.Step([&] {
    OwnerWindow* owner = FrmMain();
    Dialogs* dialogs = Sys().dialogs;
    if (!owner || !dialogs) Raise(Err::ObjectNotSet);
    ModalUp up;
    if (UCase(page) == u"ACTION") {
      FrmAction form(m.config_rd);
      dialogs->ShowAction(*owner, form);
    } else {
      FrmConfig form(m.config_rd);
      dialogs->ShowConfig(*owner, form);
    }
  });
  proc.Step([&] { r = m.config_rd; });
  return r;
}

}  // namespace ledra
