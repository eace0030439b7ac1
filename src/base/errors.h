// Failures and the error wrapper.
//
// A failing step throws a Failure (number and description, as the original
// runtime's Err object had them). Every procedure runs its body as a list of
// steps through a Procedure: a step that throws is logged with the
// procedure's label and execution goes on with the next step. Nothing is ever
// thrown past a Procedure, so nothing crosses the COM boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <utility>

#include "base/text.h"

namespace ledra {

// Error numbers of the runtime whose descriptions callers rely on.
enum class Err : int {
  InvalidCall = 5,
  Overflow = 6,
  OutOfMemory = 7,
  SubscriptOutOfRange = 9,
  DivisionByZero = 11,
  TypeMismatch = 13,
  FileNotFound = 53,
  PathNotFound = 76,
  ObjectNotSet = 91,
  InvalidUseOfNull = 94,
  ObjectRequired = 424,
  NotSupported = 438,
};

// The description the runtime gives for a number ("Type mismatch", ...).
Text Describe(Err e);

struct Failure : std::exception {
  Failure(int number, Text description) : number(number), description(std::move(description)) {}
  explicit Failure(Err e) : Failure(static_cast<int>(e), Describe(e)) {}
  const char* what() const noexcept override { return "ledra::Failure"; }

  int number;
  Text description;
};

[[noreturn]] void Raise(Err e);
[[noreturn]] void Raise(int number, const Text& description);

// Appends one line to the error log: application name, " - ", local date and
// time, "   ", " @ ", then Text. Never fails; two harmless runtime messages
// are not written at all.
//
// The log stays small. The same text again within a minute of its line is
// left out and counted; the next line of that text after the minute ends
// with "(the line above repeated N times)". A log file that would pass
// kLogRollAt bytes is rolled over to its ".1" name first (so the two files
// hold at most twice that), and a text is cut to kLogTextMax characters.
void LogError(const Text& text);

constexpr uint64_t kLogRollAt = 1024 * 1024;
constexpr size_t kLogTextMax = 4096;
constexpr uint32_t kLogRepeatMs = 60 * 1000;

// Writes what the log still owes: for each text whose repeats were left
// out, its last repeat, with its own time and the count of the others.
// all: every such text (the process or its platform is going), else those
// whose minute has passed. The repeat counts are per process.
void LogLeftOutRepeats(bool all);

// The description of whatever a step threw.
Text DescribeCurrentException() noexcept;

// One procedure's error wrapper: runs steps, logs each failure followed by
// the label, and carries on.
class Procedure {
 public:
  explicit Procedure(const char16_t* label) : label_(label) {}

  template <class F>
  bool Step(F&& step) noexcept {
    try {
      step();
      return true;
    } catch (...) {
      Log(DescribeCurrentException());
      return false;
    }
  }

  // Logs a failure noticed without an exception (the description is given).
  void Log(const Text& description) const noexcept;

  const char16_t* label() const { return label_; }

 private:
  const char16_t* label_;
};

}  // namespace ledra
