// frmConfig and frmAction: what each dialog takes from ConfigRd when it
// opens, what its OK writes back and what the file picker's answer does.
// The platform's views only show the controls and report the clicks.
#pragma once

#include <memory>

#include "base/platform.h"
#include "base/text.h"
#include "dialogs/dialog_views.h"

namespace ledra {

// What the dialogs keep between calls: one copy per thread, as the host
// creates and calls its Sessions on one thread each.
struct DialogData {
  Text config_rd;                          // ConfigRd: what the open dialog edits
  std::unique_ptr<OwnerWindow> frm_main;   // hidden owner window, made on first use
};
DialogData& DialogModule();
// frmMain, created on its first use and then kept, hidden.
OwnerWindow* FrmMain();

// The data file and the tables to search.
class FrmConfig : public ConfigHandlers {
 public:
  explicit FrmConfig(Text& config_rd) : config_rd_(config_rd) {}
  void FormLoad(ConfigView& v) override;
  void FormActivate(ConfigView& v) override;
  void BIniClick(ConfigView& v) override;
  void OkClick(ConfigView& v) override;
  void CancelClick(ConfigView& v) override;

 private:
  Text& config_rd_;
};

// The default action of the screen-pop.
class FrmAction : public ActionHandlers {
 public:
  explicit FrmAction(Text& config_rd) : config_rd_(config_rd) {}
  void FormLoad(ActionView& v) override;
  void FormActivate(ActionView& v) override;
  void OkClick(ActionView& v) override;
  void CancelClick(ActionView& v) override;

 private:
  Text& config_rd_;
};

// Configure: the host's record goes into ConfigRd with its page ("ACTION":
// frmAction, else frmConfig), the page's dialog edits it modally, and
// ConfigRd comes back. While a dialog shows, a second call shows none and
// answers as Cancel would.
Text ShowConfigure(const Text& rd, const Text& page);

// The settings' "Caption" for a data file text: "LedraII" for the default,
// the text itself up to 25 characters, else "..." and its last 23.
Text ConfigCaption(const Text& db_file);

}  // namespace ledra
