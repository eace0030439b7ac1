#include "base/errors.h"
#include "base/text_matching.h"
#include "base/variant.h"
#include "base/vars.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialog_views.h"

namespace ledra {

namespace {

// The actions DoAction understands once upper-cased, in the list's order.
const char16_t* const kActions[] = {u"Show contact", u"Sales processing", u"Order processing",
                                    u"Stock processing", u"Purchase orders"};

// The combo box as ListSearch reads a list.
class ActionList : public ListControl {
 public:
  explicit ActionList(const ActionView& v) : v_(v) {}
  int ListCount() const override { return v_.ListCount(); }
  Text List(int index) const override { return v_.List(index); }
  int32_t ItemData(int index) const override { return v_.ItemData(index); }

 private:
  const ActionView& v_;
};

}  // namespace

void FrmAction::FormLoad(ActionView& v) {
  Procedure proc(u" @ plgLedraII.frmAction.Form_Load");
  for (const char16_t* action : kActions) proc.Step([&] { v.AddItem(action); });
  Var wanted;
  proc.Step([&] { wanted = GetVar(config_rd_, u"Action", Var(kActions[0])); });
  // No entry of that name: nothing is selected.
  proc.Step([&] { v.SetListIndex(ListSearch(ActionList(v), wanted)); });
}

void FrmAction::FormActivate(ActionView& v) {
  Procedure proc(u" @ plgLedraII.frmAction.Form_Activate");
  proc.Step([&] { v.SetTopmost(true); });
  proc.Step([&] { v.SetTopmost(false); });
}

void FrmAction::OkClick(ActionView& v) {
  Procedure proc(u" @ plgLedraII.frmAction.OK_Click");
  proc.Step([&] { config_rd_.clear(); });
  proc.Step([&] { AddVar(config_rd_, u"Action", v.ActionText()); });
  proc.Step([&] { v.Close(); });
}

void FrmAction::CancelClick(ActionView& v) {
  Procedure proc(u" @ plgLedraII.frmAction.Cancel_Click");
  proc.Step([&] { v.Close(); });
}

}  // namespace ledra
