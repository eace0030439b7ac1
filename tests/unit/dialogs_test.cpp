// Configure with its two dialogs, run against views without windows: what
// each dialog shows when it opens and the record that OK or Cancel leaves.
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

enum class End { Ok, Cancel, TitleBarClose };

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

void Finish(End end, const std::function<void()>& ok, const std::function<void()>& cancel) {
  if (end == End::Ok) ok();
  if (end == End::Cancel) cancel();
  // The title bar's close button calls no handler at all.
}

TEST_F(DialogsTest, ConfigurationOpensFromTheRecordAndOkRewritesIt) {
  struct Case {
    const char16_t* rd;
    const char16_t* page;
    const char16_t* shown_file;
    int shown_suppliers, shown_customers;
    bool tables_shown;
    const char16_t* typed;  // nullptr: the text is left as shown
    End end;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"{Other=1}", u"", u"(Default)", 1, 1, true, nullptr, End::Ok,
       u"{Caption(S7)=LedraII}{Dbfile(S9)=(Default)}{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {u"{dbFile=C:\\Ledra\\a_sname.dbf}{UseSuppliers(N1)=0}", u"user", u"C:\\Ledra\\a_sname.dbf", 0, 1, false,
       nullptr, End::Ok,
       u"{Caption(S20)=C:\\Ledra\\a_sname.dbf}{Dbfile(S20)=C:\\Ledra\\a_sname.dbf}{UseSuppliers(N1)=0}"
       u"{UseCustomers(N1)=1}"},
      // Only the exact upper-case page hides the tables.
      {u"{Page=User}", u"Lookup", u"(Default)", 1, 1, true, u"(default)", End::Ok,
       u"{Caption(S7)=LedraII}{Dbfile(S9)=(default)}{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {u"", u"", u"(Default)", 1, 1, true, u"D:\\Data\\Ledra\\a_sname.dbf", End::Ok,
       u"{Caption(S25)=D:\\Data\\Ledra\\a_sname.dbf}{Dbfile(S25)=D:\\Data\\Ledra\\a_sname.dbf}"
       u"{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {u"", u"", u"(Default)", 1, 1, true, u"D:\\Data\\Ledra2\\a_sname.dbf", End::Ok,
       u"{Caption(S26)=...Data\\Ledra2\\a_sname.dbf}{Dbfile(S26)=D:\\Data\\Ledra2\\a_sname.dbf}"
       u"{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {u"{UseCustomers=0}", u"", u"(Default)", 1, 0, true, u"", End::Ok, u"{UseSuppliers(N1)=1}{UseCustomers(N1)=0}"},
      // The caption keeps the blanks that the stored file name loses.
      {u"", u"", u"(Default)", 1, 1, true, u"  E:\\x\\a_sname.dbf ", End::Ok,
       u"{Caption(S19)=  E:\\x\\a_sname.dbf }{Dbfile(S16)=E:\\x\\a_sname.dbf}{UseSuppliers(N1)=1}"
       u"{UseCustomers(N1)=1}"},
      {u"{Other=1}", u"lookup", u"(Default)", 1, 1, true, u"E:\\x", End::Cancel, u"{Other=1}{Page(S6)=LOOKUP}"},
      // The page moves to the end; an empty one removes it.
      {u"{Page(S4)=USER}{B=2}", u"user", u"(Default)", 1, 1, false, nullptr, End::Cancel, u"{B=2}{Page(S4)=USER}"},
      {u"{Page(S4)=USER}{B=2}", u"", u"(Default)", 1, 1, true, nullptr, End::Cancel, u"{B=2}"},
      {u"{Other=1}", u"", u"(Default)", 1, 1, true, u"E:\\x", End::TitleBarClose, u"{Other=1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.expected));
    dialogs.config = FakeConfigView();
    dialogs.config_user = [&](FakeConfigView& v, ConfigHandlers& h) {
      if (c.typed) v.db_file = c.typed;
      Finish(c.end, [&] { h.OkClick(v); }, [&] { h.CancelClick(v); });
      EXPECT_EQ(v.closed, c.end != End::TitleBarClose);
    };
    EXPECT_EQ(Session().Configure(c.rd, c.page), c.expected);
    const FakeConfigView& shown = dialogs.opened;
    EXPECT_EQ(shown.caption, u"LedraII Configuration");
    EXPECT_EQ(shown.tab_caption, u"Lookup");
    EXPECT_EQ(shown.selected_tab, 0);
    EXPECT_EQ(shown.db_file, c.shown_file);
    EXPECT_EQ(shown.search[0], c.shown_suppliers);
    EXPECT_EQ(shown.search[1], c.shown_customers);
    EXPECT_EQ(shown.tables_visible, c.tables_shown);
    EXPECT_EQ(shown.topmost, (std::vector<bool>{true, false}));
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

TEST_F(DialogsTest, ThePickersAnswerReplacesTheTextUnlessItWasCancelled) {
  const struct {
    const char16_t* picked;
    const char16_t* expected;
  } cases[] = {{u"", u"C:\\old\\a_sname.dbf"}, {u"Z:\\new\\b_sname.dbf", u"Z:\\new\\b_sname.dbf"}};
  for (const auto& c : cases) {
    Owner().picked = c.picked;
    dialogs.config_user = [&](FakeConfigView& v, ConfigHandlers& h) {
      h.BIniClick(v);
      EXPECT_EQ(v.db_file, c.expected);
      h.CancelClick(v);
    };
    Session().Configure(u"{dbFile=C:\\old\\a_sname.dbf}", u"");
  }
  // frmMain is made on its first use and then kept.
  EXPECT_EQ(sys.windows.owner_windows_created, 1);
  ASSERT_EQ(Owner().asked.size(), 2u);
  // Its title and filter are the Wine dialogs test's to check, as shown.
  const OpenFileRequest& r = Owner().asked[1];
  EXPECT_EQ(r.default_ext, u"dbf");
  EXPECT_EQ(r.file_name, u"");
  EXPECT_TRUE(sys.Failures().empty());
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

TEST_F(DialogsTest, TheActionDialogPreselectsTheRecordsActionAndOkKeepsOnlyTheChoice) {
  struct Case {
    const char16_t* rd;
    int shown;
    int chosen;  // -2: left as shown
    End end;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"{X=1}", 0, -2, End::Ok, u"{Action(S12)=Show contact}"},
      {u"{Action=ORDER PROCESSING}", 2, -2, End::Ok, u"{Action(S16)=Order processing}"},
      {u"{Action=NEW CONTACT}{X=1}", -1, -2, End::Ok, u""},
      {u"{Action=Sales processing}{X=1}", 1, 3, End::Ok, u"{Action(S16)=Stock processing}"},
      {u"{X=1}", 0, 4, End::Cancel, u"{X=1}{Page(S6)=ACTION}"},
      {u"{X=1}", 0, 4, End::TitleBarClose, u"{X=1}{Page(S6)=ACTION}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.rd));
    dialogs.action = FakeActionView();
    dialogs.action_user = [&](FakeActionView& v, ActionHandlers& h) {
      if (c.chosen != -2) v.list_index = c.chosen;
      Finish(c.end, [&] { h.OkClick(v); }, [&] { h.CancelClick(v); });
    };
    EXPECT_EQ(Session().Configure(c.rd, u"Action"), c.expected);
    EXPECT_EQ(dialogs.opened_action.items, (std::vector<Text>{u"Show contact", u"Sales processing", u"Order processing",
                                                              u"Stock processing", u"Purchase orders"}));
    EXPECT_EQ(dialogs.opened_action.list_index, c.shown);
    EXPECT_EQ(dialogs.opened_action.topmost, (std::vector<bool>{true, false}));
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(DialogsTest, WithoutDialogsConfigureLogsAndAnswersAsCancelled) {
  sys.platform.dialogs = nullptr;
  EXPECT_EQ(Session().Configure(u"{A=1}", u"action"), u"{A=1}{Page(S6)=ACTION}");
  EXPECT_EQ(sys.Failures(),
            std::vector<std::string>{ToUtf8(Describe(Err::ObjectNotSet)) + " @ plugin.Session.Configure"});
}

}  // namespace
}  // namespace ledra::testing
