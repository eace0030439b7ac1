// What every fuzz target needs: the native platform once per process (its
// log thrown away), text from the input's bytes, and a check that stops the
// run so that libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/platform.h"
#include "base/text.h"
#include "platform/native/native_platform.h"

namespace ledra::fuzz {

inline Platform& UsePlatform() {
  static NativePlatform* native = [] {
    auto* p = new NativePlatform("/dev/null");
    SetPlatform(&p->platform);
    return p;
  }();
  return native->platform;
}

inline Text TextOf(const uint8_t* data, size_t n) {
  return FromUtf8(std::string(reinterpret_cast<const char*>(data), n));
}

[[noreturn]] inline void Broken(const char* what, const Text& detail) {
  std::fprintf(stderr, "fuzz check failed: %s\n  %s\n", what, ToUtf8(detail).c_str());
  std::abort();
}

}  // namespace ledra::fuzz

// The target's body, in ledra::fuzz, over the input data and size.
#define LEDRA_FUZZ_TARGET                                                    \
  namespace ledra::fuzz { void TestOne(const uint8_t* data, size_t size); } \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {  \
    return ledra::fuzz::UsePlatform(), ledra::fuzz::TestOne(data, size), 0;  \
  }                                                                          \
  void ledra::fuzz::TestOne(const uint8_t* data, size_t size)
