// The platform the unit tests run on: invariant locale, an in-memory
// registry, a log file in memory, a clock the test sets, and a message
// pump that records when it handled messages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "platform/native/native_platform.h"
#include "dialogs/dialog_views.h"

namespace ledra::testing {

// The log file in memory: every line written, and the file and its rolled
// over copy as they would be on disk.
class RecordingLog : public LogFile {
 public:
  void Append(const std::string& bytes, const Full& full) noexcept override {
    if (full(file.size())) rolled = std::move(file), file.clear();
    file += bytes;
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
      lines.push_back(bytes.substr(at, end - at));
    }
  }
  std::vector<std::string> lines;
  std::string file, rolled;
};

class ManualClock : public Clock {
 public:
  OleDate Now() const override { return now; }
  float Timer() const override { return timer; }
  uint32_t TickCount() const override { return ticks; }
  OleDate now = 46362.5;  // 6 Dec 2026 12:00:00
  float timer = 0;
  uint32_t ticks = 0;
};

// Counts how often it was asked for messages, and records when (by the
// test clock) it handled them.
class RecordingPump : public MessagePump {
 public:
  explicit RecordingPump(const ManualClock& clock) : clock_(clock) {}
  bool HasPending() const override { ++checks; return pending; }
  void DoEvents() override { handled_at.push_back(clock_.ticks); }
  void WaitForMessages(uint32_t) override {}
  mutable int checks = 0;
  std::vector<uint32_t> handled_at;
  bool pending = false;

 private:
  const ManualClock& clock_;
};

// Real locks, but no thread starts: a test runs the search keys' worker
// rounds itself (RefreshSearchKeys), in step with its clock. The worker's
// own thread is the stress test's.
class TestThreads : public NativeThreads {
 public:
  std::unique_ptr<Thread> Start(std::function<void()>) override { return nullptr; }
};

class FakeOwnerWindow : public OwnerWindow {
 public:
  explicit FakeOwnerWindow(uintptr_t h) : h_(h) {}
  uintptr_t Handle() const override { return h_; }
  // The file picker answers with `picked` and remembers what it was asked.
  Text ShowOpen(const OpenFileRequest& request) override {
    asked.push_back(request);
    return picked;
  }
  Text picked;
  std::vector<OpenFileRequest> asked;

 private:
  uintptr_t h_;
};

class FakeWindows : public Windows {
 public:
  std::unique_ptr<OwnerWindow> CreateOwnerWindow() override {
    ++owner_windows_created;
    return std::make_unique<FakeOwnerWindow>(0x1000 + owner_windows_created);
  }
  int owner_windows_created = 0;
};

class FakePlatform {
 public:
  FakePlatform() {
    platform.locale = &locale;
    platform.log = &log;
    platform.clock = &clock;
    platform.pump = &pump;
    platform.registry = &registry;
    platform.windows = &windows;
    platform.threads = &threads;
    platform.module.major = 2;
    platform.module.minor = 0;
    platform.module.title = u"LedraII";
    SetPlatform(&platform);
  }
  ~FakePlatform() { SetPlatform(nullptr); }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // The failures logged, one entry each: the text after the time stamp,
  // as often as it happened. The log first writes the repeats it owes, and
  // each line counts once and for the repeats it says it stands for.
  std::vector<std::string> Failures() {
    LogLeftOutRepeats(true);
    const std::string repeated = " (the line above repeated ";
    std::vector<std::string> out;
    for (const auto& l : log.lines) {
      auto at = l.find("    @ ");
      std::string text = at == std::string::npos ? l : l.substr(at + 6);
      size_t r = text.rfind(repeated);
      size_t times = r == std::string::npos ? 1 : 1 + std::stoul(text.substr(r + repeated.size()));
      out.insert(out.end(), times, text.substr(0, r));
    }
    return out;
  }

  InvariantLocale locale;
  RecordingLog log;
  ManualClock clock;
  RecordingPump pump{clock};
  MemoryRegistry registry;
  FakeWindows windows;
  TestThreads threads;
  Platform platform;
};

// Base fixture: every test gets a fresh fake platform.
class PlatformTest : public ::testing::Test {
 protected:
  FakePlatform sys;
};

}  // namespace ledra::testing
