// Session::CheckRunning and Session::DoActionReal, and PopLedra, which
// drives the accounting application's windows for an action.
#include "automation/screen_pop.h"

#include <initializer_list>

#include "automation/keys.h"
#include "automation/window_finding.h"
#include "common/errors.h"
#include "common/file_registry.h"
#include "common/vars.h"
#include "session/session.h"

namespace ledra {

namespace {

constexpr const char16_t* kMainTitle = u"Kestrin Ledra *";
constexpr const char16_t* kSearchTitle = u"Search*";
constexpr const char16_t* kListClass = u"Ledra6c000000";
constexpr const char16_t* kProgram = u"Ledra.exe";
constexpr const char16_t* kDefaultProgram = u"c:\\Ledra II\\Ledra.exe";

constexpr float kAppearTimeout = 5;
constexpr float kSettle = 1.25f;
constexpr int kShowMaximized = 3;
constexpr uint32_t kWmActivateApp = 0x1C;
constexpr uint32_t kWmActivate = 6;
constexpr uintptr_t kClickActive = 2;
constexpr uint8_t kVkEscape = 27;
constexpr uint8_t kVkMenu = 18;

void Activate(Desktop& d, Desktop::Window w) {
  d.SendMessageA(w, kWmActivateApp, 1, 0);
  d.SendMessageA(w, kWmActivate, kClickActive, 0);
}

// The record screen for an action: its title and the menu keys that open
// it, one SendDosKeys call each.
struct Screen {
  const char16_t* title;
  std::initializer_list<const char16_t*> menu_keys;
};

const Screen kSupplier{u"Supplier*", {u"p", u"\r", u"i"}};
const Screen kOrders{u"SOP Processing*", {u"op"}};
const Screen kStock{u"Stock*", {u"cp"}};
const Screen kCustomer{u"Customer*", {u"sp"}};

const Screen& ScreenFor(const Text& contact_type, const Text& action) {
  if (UCase(contact_type) == u"PN") return kSupplier;
  Text a = UCase(action);
  if (a == u"SOP") return kOrders;
  if (a == u"STOCK") return kStock;
  return kCustomer;
}

// What each action pops up for a customer and for a supplier: PopLedra's
// action, or nullptr for nothing.
struct ActionRow {
  const char16_t* name;
  const char16_t* other_name;  // the name written without its blank, if any
  const char16_t* customer;
  const char16_t* supplier;
};
const ActionRow kActions[] = {
    {u"SHOW CONTACT", u"SHOWCONTACT", u"", u""},
    {u"SALES PROCESSING", nullptr, u"SALES", nullptr},
    {u"ORDER PROCESSING", nullptr, u"SOP", nullptr},
    {u"STOCK PROCESSING", nullptr, u"STOCK", nullptr},
    {u"PURCHASE ORDERS", nullptr, nullptr, u""},
};

}  // namespace

bool Session::CheckRunning(bool start) {
  Procedure proc(u" @ plgLedraII.CheckRunning");
  Desktop::Window main = 0;
  proc.Step([&] { main = FindWindowTitle(kMainTitle, 0); });
  if (!start || main != 0) return false;
  Text path;
  proc.Step([&] {
    Text folder = TextForm(RegistryGet(kLedraKey, kLedraPathValue));
    if (folder.empty()) {
      path = kDefaultProgram;
      return;
    }
    // The value normally ends in "\"; one without it still names the folder.
    if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    path = folder + kProgram;
  });
  proc.Step([&] {
    Programs* programs = Sys().programs;
    if (!programs || !programs->Start(path)) Raise(Err::FileNotFound);
  });
  return false;
}

Text Session::DoActionReal(const Text& rd) {
  Procedure proc(u" @ plugin.Session.DoAction");
  proc.Step([&] { CheckRunning(true); });
  Text id, account, action;
  bool supplier = false;
  proc.Step([&] { id = CStr(GetVar(rd, u"Id")); });
  proc.Step([&] { supplier = UCase((id + u"xx").substr(0, 2)) == u"PN"; });
  proc.Step([&] { account = id.size() > 2 ? id.substr(2) : Text(); });
  proc.Step([&] { action = UCase(CStr(GetVar(rd, u"Action"))); });
  proc.Step([&] {
    if (action == u"NEW CONTACT" || action == u"NEWCONTACT") {
      if (Desktop* d = Sys().desktop) d->ShowMessageBox(u"New Contact creation is not possible.", u"Ledra II");
      return;
    }
    for (const ActionRow& row : kActions) {
      if (action != row.name && !(row.other_name && action == row.other_name)) continue;
      const char16_t* pop = supplier ? row.supplier : row.customer;
      if (pop) PopLedra(supplier ? u"pn" : u"sn", account, pop);
      return;
    }
  });
  return Text();
}

void PopLedra(const Text& contact_type, const Text& account, const Text& action) {
  Procedure proc(u"  @  PopLedra");
  Desktop* d = Sys().desktop;
  if (!d) return;
  Desktop::Window main = 0;
  proc.Step([&] { main = FindWindowTitle(kMainTitle, 0); });
  if (main == 0) return;
  proc.Step([&] { d->ShowWindow(main, kShowMaximized); });
  proc.Step([&] { d->SetForegroundWindow(main); });
  proc.Step([&] { Activate(*d, main); });
  proc.Step([&] { TapKey(kVkEscape); });

  // The workspace is the main window's third child; a missing one leaves 0,
  // and the screens are then looked for among the top-level windows.
  Desktop::Window workspace = 0;
  proc.Step([&] {
    workspace = d->GetWindow(main, Desktop::kChild);
    workspace = d->GetWindow(workspace, Desktop::kNext);
    workspace = d->GetWindow(workspace, Desktop::kNext);
  });

  // A search window left open is closed first.
  Desktop::Window search = 0;
  proc.Step([&] { search = FindWindowTitle(kSearchTitle, workspace); });
  if (search != 0) {
    proc.Step([&] { d->SetForegroundWindow(search); });
    proc.Step([&] { Activate(*d, search); });
    proc.Step([&] { ProcessMessages(); });
    proc.Step([&] { TapKey(kVkEscape); });
    proc.Step([&] { Pause(kSettle); });
  }

  const Screen& screen = ScreenFor(contact_type, action);
  Desktop::Window record = 0;
  proc.Step([&] { record = FindWindowTitle(screen.title, workspace); });
  if (record == 0) {
    proc.Step([&] { TapKey(kVkMenu); });
    for (const char16_t* keys : screen.menu_keys) {
      proc.Step([&] { SendDosKeys(main, keys, false, false, false, false); });
    }
    // The stock screen needs longer to fill: it is only opened, and the
    // user runs the action again to search in it.
    if (&screen == &kStock) {
      proc.Step([&] { FindWindowWait(screen.title, u"", kAppearTimeout, workspace); });
      return;
    }
    proc.Step([&] { record = FindWindowWait(screen.title, u"", kAppearTimeout, workspace); });
    if (record == 0) return;
  }

  Desktop::Window list = 0;
  proc.Step([&] { list = FindWindowClassEx(kListClass, record); });
  proc.Step([&] { ProcessMessages(); });
  if (list == 0) return;
  proc.Step([&] { d->SetForegroundWindow(list); });
  proc.Step([&] { Activate(*d, list); });
  proc.Step([&] { Pause(kSettle); });
  proc.Step([&] { SendDosKeys(record, u"g", false, false, true, false); });
  proc.Step([&] { ProcessMessages(); });
  proc.Step([&] { SendDosKeys(list, u"f", true, false, false, false); });
  proc.Step([&] { ProcessMessages(); });

  search = 0;
  proc.Step([&] { search = FindWindowWait(kSearchTitle, u"", kAppearTimeout, workspace); });
  proc.Step([&] { ProcessMessages(); });
  if (search == 0) return;
  proc.Step([&] { ProcessMessages(); });
  proc.Step([&] { Activate(*d, search); });
  proc.Step([&] { ProcessMessages(); });
  proc.Step([&] { SendDosKeys(search, account, false, false, false, false); });
  proc.Step([&] { SendDosKeys(search, u"s", false, false, true, false); });
}

}  // namespace ledra
