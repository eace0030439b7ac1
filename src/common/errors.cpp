#include "common/errors.h"

#include <new>
#include <stdexcept>

#include "common/platform.h"

namespace ledra {

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
    Text line = p.module.title + u" - " + p.locale->FormatLogTime(p.clock->Now()) + u"   " + u" @ " + text;
    p.log->AppendLine(p.locale->ToAnsi(line));
  } catch (...) {
    // A failure while logging is ignored: the line is lost, the caller goes on.
  }
}

void Procedure::Log(const Text& description) const noexcept {
  try {
    LogError(description + label_);
  } catch (...) {
  }
}

}  // namespace ledra
