// The settings a Session derives from the host's record at Initialize: the
// table prefix, the data folder and the two table switches.
#include "common/errors.h"
#include "common/file_registry.h"
#include "common/vars.h"
#include "session/session.h"

namespace ledra {

Text Session::InstallReal() { return Text(); }

Text Session::UninitializeReal() { return Text(); }

Var Session::InitializeReal() {
  Procedure proc(u" @ plugin.Session.InitializeReal");
  Text file;
  proc.Step([&] { file = TextForm(GetVar(data_rd_, u"DBFile")); });
  // The customer table is ?_sname.dbf: its first two characters name the
  // company; too short a name is padded with "x", and no name at all means
  // the default company.
  proc.Step([&] { table_prefix_ = (FileEnd(file) + u"xx").substr(0, 2); });
  proc.Step([&] {
    if (table_prefix_ == u"xx") table_prefix_ = u"z_";
  });
  Text folder;
  proc.Step([&] { folder = FilePath(file); });
  proc.Step([&] {
    if (folder.empty()) {
      folder = TextForm(RegistryGet(kLedraKey, kLedraPathValue, Var(folder))) + u"\\data";
    }
  });
  proc.Step([&] { data_path_ = folder; });
  proc.Step([&] { use_suppliers_ = CBool(GetVar(data_rd_, u"UseSuppliers", Var::Integer(1))); });
  proc.Step([&] { use_customers_ = CBool(GetVar(data_rd_, u"UseCustomers", Var::Integer(1))); });
  return Var();
}

}  // namespace ledra
