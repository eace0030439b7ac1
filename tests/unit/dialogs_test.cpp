// Configure's handlers against views without windows, for what the Wine
// dialogs test (tests/wine/dialogs_driver.cpp) does not reach: the page's
// case and place, the caption's blanks, a switch the box cannot take, the
// picker's folder, a second Configure while one is up, no dialogs at all.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/file_registry.h"
#include "dialogs/dialogs.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_platform.h"
#include "session/session.h"
#include "dialogs/dialog_views.h"

namespace ledra::testing {
namespace {

class DialogsTest : public PlatformTest {
 protected:
  // frmMain lives as long as the thread; each test starts without one.
  DialogsTest() {
    sys.platform.dialogs = &dialogs;
    DialogModule().frm_main.reset();
  }
  ~DialogsTest() override { DialogModule().frm_main.reset(); }
  FakeOwnerWindow& Owner() { return static_cast<FakeOwnerWindow&>(*FrmMain()); }
  FakeDialogs dialogs;
};

TEST_F(DialogsTest, ConfigurationOpensFromTheRecordAndOkRewritesIt) {
  struct Case {
    const char16_t* rd;
    const char16_t* page;
    const char16_t* shown_file;
    int shown_suppliers, shown_customers;
    bool tables_shown;
    const char16_t* typed;  // nullptr: the text is left as shown
    bool ok;  // else Cancel
    const char16_t* expected;
  };
  // What the Wine dialogs test does not reach: the page's exact case, the
  // caption's blanks, the page moved to the end or removed.
  const Case cases[] = {
      {u"{Page=User}", u"Lookup", u"(Default)", 1, 1, true, u"(default)", true,
       u"{Caption(S7)=LedraII}{Dbfile(S9)=(default)}{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {u"{UseCustomers=0}", u"", u"(Default)", 1, 0, true, u"  E:\\x\\a_sname.dbf ", true,
       u"{Caption(S19)=  E:\\x\\a_sname.dbf }{Dbfile(S16)=E:\\x\\a_sname.dbf}{UseSuppliers(N1)=1}"
       u"{UseCustomers(N1)=0}"},
      {u"{Page(S4)=USER}{B=2}", u"user", u"(Default)", 1, 1, false, nullptr, false, u"{B=2}{Page(S4)=USER}"},
      {u"{Page(S4)=USER}{B=2}", u"", u"(Default)", 1, 1, true, nullptr, false, u"{B=2}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.expected));
    dialogs.config = FakeConfigView();
    dialogs.config_user = [&](FakeConfigView& v, ConfigHandlers& h) {
      if (c.typed) v.db_file = c.typed;
      c.ok ? h.OkClick(v) : h.CancelClick(v);
      EXPECT_TRUE(v.closed);
    };
    EXPECT_EQ(Session().Configure(c.rd, c.page), c.expected);
    const FakeConfigView& shown = dialogs.opened;
    EXPECT_EQ(shown.db_file, c.shown_file);
    EXPECT_EQ(shown.search[0], c.shown_suppliers);
    EXPECT_EQ(shown.search[1], c.shown_customers);
    EXPECT_EQ(shown.tables_visible, c.tables_shown);
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(DialogsTest, ASwitchTheCheckBoxCannotTakeIsLoggedAndSkipped) {
  dialogs.config_user = [](FakeConfigView& v, ConfigHandlers& h) { h.OkClick(v); };
  EXPECT_EQ(Session().Configure(u"{UseSuppliers=5}{UseCustomers=-1}", u""),
            u"{Caption(S7)=LedraII}{Dbfile(S9)=(Default)}{UseSuppliers(N1)=0}{UseCustomers(N1)=0}");
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>{"Invalid property value @ plgLedraII.frmConfig.Form_Load",
                                                      "Invalid property value @ plgLedraII.frmConfig.Form_Load"}));
}

TEST_F(DialogsTest, ThePickerOpensInTheFolderOfTheCurrentTable) {
  const struct {
    const char16_t* shown;
    const char16_t* installed;  // PathToLedra, nullptr: none
    const char16_t* folder;
  } cases[] = {
      {u"C:\\old\\a_sname.dbf", nullptr, u"C:\\old"},
      {u"  E:\\x\\b_sname.dbf ", nullptr, u"E:\\x"},
      {u"(Default)", nullptr, u""},
      {u"(Default)", u"D:\\Ledra", u"D:\\Ledra\\data"},
      {u"", u"D:\\Ledra", u"D:\\Ledra\\data"},
  };
  for (const auto& c : cases) {
    if (c.installed) sys.registry.SetText(Registry::kLocalMachine, kLedraKey, kLedraPathValue, c.installed);
    dialogs.config_user = [&](FakeConfigView& v, ConfigHandlers& h) {
      v.db_file = c.shown;
      h.BIniClick(v);
      h.CancelClick(v);
    };
    Session().Configure(u"", u"");
    EXPECT_EQ(Owner().asked.back().initial_folder, c.folder) << ToUtf8(c.shown);
  }
  // frmMain is made on its first use and then kept.
  EXPECT_EQ(sys.windows.owner_windows_created, 1);
}

// The host handles a message while the dialog is up and calls Configure
// again (here through another Session of the thread).
TEST_F(DialogsTest, AConfigureWhileTheDialogIsUpAnswersAsCancelledAndLeavesConfigRdAlone) {
  Text again;
  dialogs.config_user = [&](FakeConfigView& v, ConfigHandlers& h) {
    again = Session().Configure(u"{Inner=1}", u"action");
    h.CancelClick(v);
  };
  EXPECT_EQ(Session().Configure(u"{Outer=1}", u"lookup"), u"{Outer=1}{Page(S6)=LOOKUP}");
  EXPECT_EQ(again, u"{Inner=1}{Page(S6)=ACTION}");
  EXPECT_TRUE(dialogs.opened_action.items.empty());
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{
                                "A settings dialog is open already; answered as cancelled @ plugin.Session.Configure"});
  // Closed, the dialog shows again.
  dialogs.action_user = [](FakeActionView& v, ActionHandlers& h) { h.OkClick(v); };
  EXPECT_EQ(Session().Configure(u"{Inner=1}", u"action"), u"{Action(S12)=Show contact}");
}

TEST_F(DialogsTest, WithoutDialogsConfigureLogsAndAnswersAsCancelled) {
  sys.platform.dialogs = nullptr;
  EXPECT_EQ(Session().Configure(u"{A=1}", u"action"), u"{A=1}{Page(S6)=ACTION}");
  EXPECT_EQ(sys.Failures(),
            std::vector<std::string>{ToUtf8(Describe(Err::ObjectNotSet)) + " @ plugin.Session.Configure"});
}

}  // namespace
}  // namespace ledra::testing
