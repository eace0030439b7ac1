#include "base/errors.h"

#include <atomic>
#include <map>
#include <new>
#include <string>
#include <vector>
#include <stdexcept>

#include "base/platform.h"

namespace ledra {

// The platform lives beside the log: setting another first writes what the
// log owes to the outgoing platform's log.
namespace {
Platform* g_platform = nullptr;
Platform g_none;
}  // namespace

Platform& Sys() { return g_platform ? *g_platform : g_none; }

void SetPlatform(Platform* p) {
  if (p == g_platform) return;
  LogLeftOutRepeats(true);
  g_platform = p;
}

Text Describe(Err e) {
  switch (e) {
    case Err::InvalidCall: return u"Invalid procedure call or argument";
    case Err::Overflow: return u"Overflow";
    case Err::OutOfMemory: return u"Out of memory";
    case Err::SubscriptOutOfRange: return u"Subscript out of range";
    case Err::DivisionByZero: return u"Division by zero";
    case Err::TypeMismatch: return u"Type mismatch";
    case Err::FileNotFound: return u"File not found";
    case Err::PathNotFound: return u"Path not found";
    case Err::ObjectNotSet: return u"Object variable or With block variable not set";
    case Err::InvalidUseOfNull: return u"Invalid use of Null";
    case Err::ObjectRequired: return u"Object required";
    case Err::NotSupported: return u"Object doesn't support this property or method";
  }
  return u"Application-defined or object-defined error";
}

void Raise(Err e) { throw Failure(e); }
void Raise(int number, const Text& description) { throw Failure(number, description); }

Text DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const Failure& f) {
    return f.description;
  } catch (const std::bad_alloc&) {
    return Describe(Err::OutOfMemory);
  } catch (const std::length_error&) {
    return Describe(Err::OutOfMemory);
  } catch (const std::out_of_range&) {
    return Describe(Err::SubscriptOutOfRange);
  } catch (...) {
    return u"Automation error";
  }
}

namespace {

// A text's last written line and the repeats left out since.
struct Repeats {
  uint32_t written_at = 0;  // tick of the line
  uint32_t left_out = 0;
  OleDate last = 0;         // when the last one left out happened
};

struct Pending {
  Text text;
  OleDate when;
};

// More texts than this within a minute are written without folding.
constexpr size_t kRepeatTexts = 256;

// The texts logged in the last minute, one table for the process. Its lock
// is held only while the table is looked at, never while a file is written
// (the Windows builds' runtime has no std::mutex).
std::atomic_flag g_seen_busy = ATOMIC_FLAG_INIT;

std::map<Text, Repeats>& Seen() {
  static auto* seen = new std::map<Text, Repeats>();  // never freed: a late line may still come at exit
  return *seen;
}

class HoldSeen {
 public:
  HoldSeen() {
    while (g_seen_busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~HoldSeen() { g_seen_busy.clear(std::memory_order_release); }
};

Text Repeated(const Text& text, uint32_t n) {
  if (n == 0) return text;
  return text + u" (the line above repeated " + FromAscii(std::to_string(n)) + u" times)";
}

// Takes out of the table the texts whose minute has passed (all: every
// one), except `keep`; for those with repeats left out, their last repeat
// is owed as a line.
void TakeOwed(std::vector<Pending>& owed, uint32_t tick, bool all, const Text* keep) {
  auto& seen = Seen();
  for (auto it = seen.begin(); it != seen.end();) {
    if ((keep && it->first == *keep) || (!all && tick - it->second.written_at < kLogRepeatMs)) {
      ++it;
      continue;
    }
    if (it->second.left_out > 0) owed.push_back({Repeated(it->first, it->second.left_out - 1), it->second.last});
    it = seen.erase(it);
  }
}

void Write(const Platform& p, const std::vector<Pending>& lines) {
  if (lines.empty()) return;
  std::string bytes;
  for (const Pending& l : lines) {
    bytes += p.locale->ToAnsi(p.module.title + u" - " + p.locale->FormatLogTime(l.when) + u"   " + u" @ " + l.text);
    bytes += "\r\n";
  }
  const uint64_t n = bytes.size();
  p.log->Append(bytes, [n](uint64_t size) { return size > 0 && size + n > kLogRollAt; });
}

}  // namespace

void LogError(const Text& text) {
  try {
    if (ContainsAsciiNoCase(text, u"cannot be created because its designer window is open.") ||
        ContainsAsciiNoCase(text, u"Address Family is not supported")) {
      return;
    }
    Platform& p = Sys();
    // Without a log, a clock or a locale (no platform set yet) there is no
    // line to write; the caller still goes on.
    if (!p.log || !p.clock || !p.locale) return;
    const Text t = text.size() > kLogTextMax ? text.substr(0, kLogTextMax) : text;
    const uint32_t tick = p.clock->TickCount();
    const OleDate now = p.clock->Now();
    std::vector<Pending> lines;
    {
      HoldSeen hold;
      TakeOwed(lines, tick, false, &t);
      auto& seen = Seen();
      auto it = seen.find(t);
      if (it == seen.end()) {
        if (seen.size() < kRepeatTexts) seen.emplace(t, Repeats{tick, 0, now});
        lines.push_back({t, now});
      } else if (tick - it->second.written_at < kLogRepeatMs) {
        ++it->second.left_out;
        it->second.last = now;
      } else {
        lines.push_back({Repeated(t, it->second.left_out), now});
        it->second = Repeats{tick, 0, now};
      }
    }
    Write(p, lines);
  } catch (...) {
    // A failure while logging is ignored: the line is lost, the caller goes on.
  }
}

void LogLeftOutRepeats(bool all) {
  try {
    Platform& p = Sys();
    std::vector<Pending> lines;
    {
      HoldSeen hold;
      TakeOwed(lines, p.clock ? p.clock->TickCount() : 0, all || !p.clock, nullptr);
    }
    if (p.log && p.locale) Write(p, lines);
  } catch (...) {
  }
}

void Procedure::Log(const Text& description) const noexcept {
  try {
    LogError(description + label_);
  } catch (...) {
  }
}

}  // namespace ledra
