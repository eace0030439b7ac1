// CheckRunning and DoAction behind the Session's methods, and PopLedra, which
// drives the accounting application's windows for an action.
#include "screenpop/screen_pop.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <utility>

#include "screenpop/keys.h"
#include "screenpop/window_finding.h"
#include "base/errors.h"
#include "base/file_registry.h"
#include "base/modal.h"
#include "base/vars.h"
#include "screenpop/desktop.h"

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

// A pop is over within this, however the application behaves (the host
// waits for it); a healthy one needs at most about 13 seconds.
constexpr uint32_t kPopBudgetMs = 18000;
// How long one activation message may wait for the application's answer.
constexpr uint32_t kAnswerMs = 5000;
// How long the application may take to come to the front when asked again.
constexpr uint32_t kFrontMs = 1000;
// A program the plug-in started less than this long ago is still starting.
constexpr uint32_t kStartingMs = 30000;

// Process-wide: the keys of two pops would mix in the one input stream, and
// a start by any Session makes a second copy needless.
std::atomic<bool> g_popping{false};
std::atomic<bool> g_started{false};
std::atomic<uint32_t> g_started_at{0};

uint32_t Now() { return Sys().clock->TickCount(); }

// One pop's hold on the accounting application: the process whose windows
// it drives and the time it has left. Keys go out only while a window of
// that process is in front. Once it stops (another program stays in front,
// the application does not answer, or the time is up) nothing more goes to
// the application, and the reason is logged once.
class Pop {
 public:
  Pop(Desktop& d, const Procedure& proc, Desktop::Window main)
      : d_(d), proc_(proc), main_(main), process_(d.WindowProcess(main)), start_(Now()) {}

  uint32_t process() const { return process_; }
  bool stopped() const { return stopped_; }

  void Front(Desktop::Window w) {
    if (!stopped_) d_.SetForegroundWindow(w);
  }

  // WM_ACTIVATEAPP, then WM_ACTIVATE as a click would; whether the window
  // took both. A window that is gone is not a hung application: there is
  // nothing left to activate, and a window the pop needs (needed) ends it
  // with a line in the log, another is skipped.
  bool Activate(Desktop::Window w, bool needed = true) {
    for (auto [msg, wparam] : {std::pair{kWmActivateApp, uintptr_t{1}}, std::pair{kWmActivate, kClickActive}}) {
      if (!InTime()) return false;
      switch (d_.SendMessageWithin(w, msg, wparam, 0, std::min(kAnswerMs, Left()))) {
        case Desktop::Sent::kAnswered:
          break;
        case Desktop::Sent::kGone:
          if (needed) Stop(u"A window of Ledra II closed during the screen-pop");
          return false;
        case Desktop::Sent::kNoAnswer:
          Stop(u"Ledra II does not answer");
          return false;
      }
    }
    return true;
  }

  // Before every key: the application must be in front. It is brought
  // forward once more; if something else stays in front, the pop ends.
  bool MayType() {
    if (stopped_) return false;
    if (InFront(0)) return true;
    d_.SetForegroundWindow(main_);
    if (InFront(kFrontMs)) return true;
    Stop(u"Another program's window is in front of Ledra II");
    return false;
  }

  void Keys(Desktop::Window w, const Text& keys, bool ctrl, bool alt, bool literal) {
    if (!stopped_) SendDosKeys(w, keys, ctrl, false, alt, literal, [this] { return MayType(); });
  }
  void Tap(uint8_t vk) {
    if (MayType()) TapKey(vk);
  }

  // A window of the application, waited for as long as the time allows.
  Desktop::Window Wait(const Text& title, Desktop::Window parent) {
    if (!InTime()) return 0;
    return FindWindowWait(title, std::min(kAppearTimeout, Left() / 1000.0f), parent, process_);
  }
  void Settle() {
    if (InTime()) Pause(std::min(kSettle, Left() / 1000.0f));
  }

 private:
  uint32_t Left() const {
    uint32_t used = Now() - start_;
    return used >= kPopBudgetMs ? 0 : kPopBudgetMs - used;
  }
  bool InTime() {
    if (!stopped_ && Left() == 0) Stop(u"Ledra II is too slow to answer");
    return !stopped_;
  }
  bool InFront(uint32_t wait_ms) {
    for (uint32_t since = Now();; Pause(0.01f)) {
      if (d_.WindowProcess(d_.ForegroundWindow()) == process_) return true;
      if (Now() - since >= std::min(wait_ms, Left())) return false;
    }
  }
  void Stop(const Text& why) {
    if (stopped_) return;
    stopped_ = true;
    proc_.Log(why + u": the screen-pop stopped");
  }

  Desktop& d_;
  const Procedure& proc_;
  Desktop::Window main_;
  uint32_t process_;
  uint32_t start_;
  bool stopped_ = false;
};

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

void ForgetLedraStart() { g_started = false; }

bool CheckLedraRunning(bool start) {
  Procedure proc(u" @ plgLedraII.CheckRunning");
  Desktop::Window main = 0;
  proc.Step([&] { main = FindWindowTitle(kMainTitle, 0); });
  if (!start || main != 0) return false;
  Text path;
  proc.Step([&] {
    Text folder = LedraFolder();
    path = folder.empty() ? Text(kDefaultProgram) : folder + u"\\" + kProgram;
  });
  proc.Step([&] {
    Programs* programs = Sys().programs;
    if (!programs) Raise(Err::FileNotFound);
    // Ledra II may be on its way up: started moments ago, or running without
    // its main window yet (asking the user to log in, say). A second copy
    // would only be in the way.
    if (g_started && Now() - g_started_at < kStartingMs) return;
    if (programs->Running(path)) return;
    if (!programs->Start(path)) Raise(Err::FileNotFound);
    g_started_at = Now();
    g_started = true;
  });
  return false;
}

Text DoScreenPopAction(const Text& rd) {
  Procedure proc(u" @ plugin.Session.DoAction");
  // The host's messages are handled while a pop waits, and one of them may
  // ask for another action: its keys would mix with these ones, and its
  // message box would stack on this one's.
  if (g_popping.exchange(true)) {
    proc.Log(u"Another action is still running: this one is refused");
    return Text();
  }
  struct Done {
    ~Done() { g_popping = false; }
  } done;
  proc.Step([&] { CheckLedraRunning(true); });
  Text id, account, action;
  bool supplier = false;
  proc.Step([&] { id = CStr(GetVar(rd, u"Id")); });
  proc.Step([&] { supplier = UCase((id + u"xx").substr(0, 2)) == u"PN"; });
  proc.Step([&] { account = id.size() > 2 ? id.substr(2) : Text(); });
  proc.Step([&] { action = UCase(CStr(GetVar(rd, u"Action"))); });
  proc.Step([&] {
    if (action == u"NEW CONTACT" || action == u"NEWCONTACT") {
      if (ModalWindowUp()) {
        proc.Log(u"A settings dialog is open already; the New Contact message is not shown");
        return;
      }
      ModalUp up;
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
  // Only windows of the main window's process are looked for and typed into.
  Pop pop(*d, proc, main);
  if (pop.process() == 0) return;
  proc.Step([&] { d->ShowWindowAsync(main, kShowMaximized); });
  proc.Step([&] { pop.Front(main); });
  proc.Step([&] { pop.Activate(main); });
  proc.Step([&] { pop.Tap(kVkEscape); });
  if (pop.stopped()) return;

  // The workspace is the main window's third child; a missing one leaves 0,
  // and the screens are then looked for among the top-level windows.
  Desktop::Window workspace = 0;
  proc.Step([&] {
    workspace = d->GetWindow(main, Desktop::kChild);
    workspace = d->GetWindow(workspace, Desktop::kNext);
    workspace = d->GetWindow(workspace, Desktop::kNext);
  });

  // A search window left open is closed first, unless the Escape above
  // has closed it already (it had the focus): then it is gone, or going.
  Desktop::Window search = 0;
  proc.Step([&] { search = FindWindowTitle(kSearchTitle, workspace, pop.process()); });
  if (search != 0) {
    bool there = false;
    proc.Step([&] { pop.Front(search); });
    proc.Step([&] { there = pop.Activate(search, false); });
    if (pop.stopped()) return;
    if (there) {
      proc.Step([&] { ProcessMessages(); });
      proc.Step([&] { pop.Tap(kVkEscape); });
      proc.Step([&] { pop.Settle(); });
    }
  }

  const Screen& screen = ScreenFor(contact_type, action);
  Desktop::Window record = 0;
  proc.Step([&] { record = FindWindowTitle(screen.title, workspace, pop.process()); });
  if (record == 0) {
    proc.Step([&] { pop.Tap(kVkMenu); });
    for (const char16_t* keys : screen.menu_keys) {
      proc.Step([&] { pop.Keys(main, keys, false, false, false); });
    }
    // The stock screen needs longer to fill: it is only opened, and the
    // user runs the action again to search in it.
    if (&screen == &kStock) {
      proc.Step([&] { pop.Wait(screen.title, workspace); });
      return;
    }
    proc.Step([&] { record = pop.Wait(screen.title, workspace); });
    if (record == 0) return;
  }

  Desktop::Window list = 0;
  proc.Step([&] { list = FindWindowClassEx(kListClass, record, pop.process()); });
  proc.Step([&] { ProcessMessages(); });
  if (list == 0) return;
  proc.Step([&] { pop.Front(list); });
  proc.Step([&] { pop.Activate(list); });
  proc.Step([&] { pop.Settle(); });
  proc.Step([&] { pop.Keys(record, u"g", false, true, false); });
  proc.Step([&] { ProcessMessages(); });
  proc.Step([&] { pop.Keys(list, u"f", true, false, false); });
  proc.Step([&] { ProcessMessages(); });

  search = 0;
  proc.Step([&] { search = pop.Wait(kSearchTitle, workspace); });
  proc.Step([&] { ProcessMessages(); });
  if (search == 0) return;
  proc.Step([&] { ProcessMessages(); });
  proc.Step([&] { pop.Activate(search); });
  proc.Step([&] { ProcessMessages(); });
  // The account code is data: typed as it stands, never read as escapes.
  proc.Step([&] { pop.Keys(search, account, false, false, true); });
  proc.Step([&] { pop.Keys(search, u"s", false, true, false); });
}

}  // namespace ledra
