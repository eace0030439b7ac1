#include "screenpop/window_finding.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "base/text_matching.h"
#include "screenpop/desktop.h"

namespace ledra {

namespace {

// Texts are read into a buffer of 1,002 characters with a count of 1,000,
// so at most 999 characters take part in a comparison.
constexpr int kTextCount = 1000;
// Between two attempts the thread sleeps until a message comes, for this
// long, or kIdleTimesBusy times what a round of looking and handling
// messages takes where that is longer (up to kLongestIdleMs): a wait neither
// freezes the host nor burns a core, even where a round costs tens of
// milliseconds (an emulated machine).
constexpr uint32_t kIdleSliceMs = 5;
constexpr uint32_t kIdleTimesBusy = 8;
constexpr uint32_t kLongestIdleMs = 250;

// Visits parent's direct children, or all top-level windows from the top of
// the foreground window's level, and answers the first of the process (any,
// for 0) whose text, read() and upper-cased, matches().
template <class Read, class Matches>
Desktop::Window Walk(Desktop::Window parent, uint32_t process, Read read, Matches matches) {
  Desktop* d = Sys().desktop;
  if (!d) return 0;
  Desktop::Window w = parent != 0 ? d->GetWindow(parent, Desktop::kChild)
                                  : d->GetWindow(d->ForegroundWindow(), Desktop::kFirst);
  while (w != 0) {
    if ((process == 0 || d->WindowProcess(w) == process) && matches(UCase(read(*d, w)))) return w;
    w = d->GetWindow(w, Desktop::kNext);
  }
  return 0;
}

uint32_t ElapsedMs(uint32_t start) { return Sys().clock->TickCount() - start; }

void IdleUpTo(uint32_t ms) {
  if (MessagePump* pump = Sys().pump) pump->WaitForMessages(ms);
}

// The idle waits of one loop. A round's cost is averaged over all rounds,
// which stays right where the tick count moves in steps of 16 ms.
class Idler {
 public:
  // Ends a round: idles for the slice, but no longer than most_ms.
  void Idle(uint32_t most_ms) {
    busy_ += ElapsedMs(round_start_);
    ++rounds_;
    uint32_t slice = std::clamp(busy_ * kIdleTimesBusy / rounds_, kIdleSliceMs, kLongestIdleMs);
    IdleUpTo(std::min(slice, most_ms));
    round_start_ = Sys().clock->TickCount();
  }

 private:
  uint32_t round_start_ = Sys().clock->TickCount();
  uint32_t busy_ = 0;
  uint32_t rounds_ = 0;
};

}  // namespace

Desktop::Window FindWindowTitle(const Text& title, Desktop::Window parent, uint32_t process) {
  Procedure proc(u" @ basGlobal.FindWindowTitle");
  Desktop::Window found = 0;
  proc.Step([&] {
    Text pattern = UCase(RidStr(title, u"*"));
    found = Walk(
        parent, process, [](Desktop& d, Desktop::Window w) { return d.WindowText(w, kTextCount); },
        [&](const Text& text) { return text.find(pattern) != Text::npos; });
  });
  return found;
}

Desktop::Window FindWindowClassEx(const Text& class_name, Desktop::Window parent, uint32_t process) {
  Procedure proc(u" @ basGlobal.FindWindowClassEx");
  Desktop::Window found = 0;
  proc.Step([&] {
    Text pattern = UCase(class_name);
    found = Walk(
        parent, process, [](Desktop& d, Desktop::Window w) { return d.ClassName(w, kTextCount); },
        [&](const Text& name) { return name.compare(0, pattern.size(), pattern) == 0; });
  });
  return found;
}

Desktop::Window FindWindowWait(const Text& title, float timeout, Desktop::Window parent, uint32_t process) {
  Procedure proc(u"  @  FindWindowWait");
  Desktop::Window found = 0;
  proc.Step([&] {
    // A tick count, unlike seconds of the day, does not restart at midnight.
    uint32_t start = Sys().clock->TickCount();
    Idler idler;
    for (;;) {
      float left_ms = timeout * 1000.0f - static_cast<float>(ElapsedMs(start));
      if (left_ms <= 0) return;
      Desktop::Window w = FindWindowTitle(title, parent, process);
      // Only a handle positive as a 32-bit number counts as found.
      if (static_cast<int32_t>(static_cast<uint32_t>(w)) > 0) {
        found = w;
        return;
      }
      ProcessMessages();
      idler.Idle(static_cast<uint32_t>(std::ceil(left_ms)));
    }
  });
  return found;
}

void ProcessMessages() {
  if (MessagePump* pump = Sys().pump) pump->DoEvents();
}

void Pause(float seconds) {
  uint32_t start = Sys().clock->TickCount();
  uint32_t total = static_cast<uint32_t>(seconds * 1000.0f);
  Idler idler;
  for (;;) {
    ProcessMessages();
    uint32_t elapsed = ElapsedMs(start);
    if (elapsed >= total) return;
    idler.Idle(total - elapsed);
  }
}

}  // namespace ledra
