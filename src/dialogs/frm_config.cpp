#include "base/errors.h"
#include "base/file_registry.h"
#include "dialogs/translate.h"
#include "base/variant.h"
#include "base/vars.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialog_views.h"

namespace ledra {

namespace {

// A check box takes 0, 1 or 2; anything else is refused as the runtime
// refuses an invalid property value, and the box keeps its state.
int CheckValue(const Var& v) {
  int16_t n = CInt(v);
  if (n < 0 || n > 2) Raise(380, u"Invalid property value");
  return n;
}

}  // namespace

Text ConfigCaption(const Text& db_file) {
  if (UCase(db_file) == u"(DEFAULT)") return u"LedraII";
  if (db_file.size() > 25) return u"..." + db_file.substr(db_file.size() - 23);
  return db_file;
}

void FrmConfig::FormLoad(ConfigView& v) {
  Procedure proc(u" @ plgLedraII.frmConfig.Form_Load");
  proc.Step([&] { v.SetCaption(Translate(u"<1> Configuration", u"LedraII")); });
  proc.Step([&] { v.SetTabCaption(0, Translate(u"Lookup")); });
  proc.Step([&] { v.SetDbFile(CStr(GetVar(config_rd_, u"dbFile", Var(Translate(u"(Default)"))))); });
  proc.Step([&] { v.SetSearch(0, CheckValue(GetVar(config_rd_, u"UseSuppliers", Var::Integer(1)))); });
  proc.Step([&] { v.SetSearch(1, CheckValue(GetVar(config_rd_, u"UseCustomers", Var::Integer(1)))); });
  // Configure stored the page upper-cased, so the comparison is exact.
  proc.Step([&] { v.ShowTables(TextForm(GetVar(config_rd_, u"Page")) != u"USER"); });
  proc.Step([&] { v.SelectTab(0); });
}

void FrmConfig::FormActivate(ConfigView& v) {
  Procedure proc(u" @ plgLedraII.frmConfig.Form_Activate");
  // Raised above other windows without staying always on top.
  proc.Step([&] { v.SetTopmost(true); });
  proc.Step([&] { v.SetTopmost(false); });
}

void FrmConfig::BIniClick(ConfigView& v) {
  Procedure proc(u" @ plgLedraII.frmConfig.bIni_Click");
  OpenFileRequest request;
  request.title = u"Select database file (?_sname.dbf)";
  request.default_ext = u"dbf";
  // "?" stands for the company's one-letter prefix.
  request.filter = u"Database file (?_sname.dbf)|?_sname.dbf";
  request.file_name = Text();
  // The picker opens where the current table is: the folder of the text,
  // else the accounting application's own data folder.
  proc.Step([&] {
    request.initial_folder = FilePath(Trim(v.DbFile()));
    if (request.initial_folder.empty()) {
      Text installed = TextForm(RegistryGet(kLedraKey, kLedraPathValue));
      if (!installed.empty()) request.initial_folder = installed + u"\\data";
    }
  });
  Text picked;
  proc.Step([&] {
    OwnerWindow* owner = FrmMain();
    if (!owner) Raise(Err::ObjectNotSet);
    picked = owner->ShowOpen(request);
  });
  // Cancelled: the text stays as it was.
  proc.Step([&] {
    if (!picked.empty()) v.SetDbFile(picked);
  });
}

void FrmConfig::OkClick(ConfigView& v) {
  Procedure proc(u" @ plgLedraII.frmConfig.OK_Click");
  proc.Step([&] { config_rd_.clear(); });
  proc.Step([&] { AddVar(config_rd_, u"Caption", ConfigCaption(v.DbFile())); });
  proc.Step([&] { AddVar(config_rd_, u"Dbfile", Trim(v.DbFile())); });
  proc.Step([&] { AddVar(config_rd_, u"UseSuppliers", Var::Integer(static_cast<int16_t>(v.Search(0)))); });
  proc.Step([&] { AddVar(config_rd_, u"UseCustomers", Var::Integer(static_cast<int16_t>(v.Search(1)))); });
  proc.Step([&] { v.Close(); });
}

void FrmConfig::CancelClick(ConfigView& v) {
  Procedure proc(u" @ plgLedraII.frmConfig.Cancel_Click");
  proc.Step([&] { v.Close(); });
}

}  // namespace ledra
