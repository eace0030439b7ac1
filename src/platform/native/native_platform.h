// The platform of the native build (the command-line tool and the unit
// tests): invariant English number and date forms, UTF-8 as the ANSI code
// page, an in-memory registry that starts empty, and no window system.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "base/platform.h"

namespace ledra {

class InvariantLocale : public Locale {
 public:
  Text FormatDouble(double v) const override;
  Text FormatSingle(float v) const override;
  Text FormatDate(OleDate d) const override;
  Text FormatLogTime(OleDate d) const override;
  std::optional<double> ParseNumber(const Text& s) const override;
  std::optional<OleDate> ParseDate(const Text& s) const override;
  Text Upper(const Text& s) const override;
  std::string ToAnsi(const Text& s) const override;
  Text FromAnsi(const std::string& s) const override;
  Text Decode(uint32_t codepage, const char* bytes, size_t n) const override;
};

// Appends to a file whose path is the tool's choice, rolled over beside it;
// the threads of the process take turns.
class FileLog : public LogFile {
 public:
  explicit FileLog(std::string path) : path_(std::move(path)) {}
  void Append(const std::string& bytes, const Full& full) noexcept override;
  Text Path() override { return FromUtf8(path_); }

 private:
  std::string path_;
  std::mutex lock_;
};

class SystemClock : public Clock {
 public:
  OleDate Now() const override;
  float Timer() const override;
  uint32_t TickCount() const override;
  uint64_t Milliseconds() const override;
};

// std::thread and std::mutex.
class NativeThreads : public Threads {
 public:
  std::unique_ptr<Lock> NewLock() override;
  std::unique_ptr<Signal> NewSignal() override;
  std::unique_ptr<Thread> Start(std::function<void()> body) override;
};

class NoMessages : public MessagePump {
 public:
  bool HasPending() const override { return false; }
  void DoEvents() override {}
  // No message ever comes: the whole bound passes.
  void WaitForMessages(uint32_t max_ms) override;
};

// Registry kept in memory; keys are matched without regard to case. Text
// values are kept in UTF-16, as the wide registry functions keep them. Its
// own view is the 64-bit one; the 32-bit view of HKEY_LOCAL_MACHINE is kept
// apart, as 64-bit Windows keeps it. Safe to share between threads, as the
// platform is.
class MemoryRegistry : public Registry {
 public:
  long OpenKey(uint32_t root, const Text& subkey, Key* key, View view = View::Own) override;
  long QueryValue(Key key, const Text& name, uint32_t* type, uint8_t* data, uint32_t* size) override;
  long CloseKey(Key key) override;
  long DeleteKey(uint32_t root, const Text& subkey) override;
  long SetText(uint32_t root, const Text& subkey, const Text& name, const Text& value) override;
  // %NAME% from `environment`; other names stay as they are.
  Text ExpandEnvironment(const Text& s) const override;

  // Test helpers: a raw value (type 1 = text, 2 = expandable text, 4 =
  // 32-bit number; text given and shown in UTF-8) and a look.
  void SetRaw(uint32_t root, const Text& subkey, const Text& name, uint32_t type, const std::string& bytes,
              View view = View::Own);
  bool HasKey(uint32_t root, const Text& subkey) const;
  std::optional<std::string> Raw(uint32_t root, const Text& subkey, const Text& name) const;
  int open_handles() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return static_cast<int>(open_.size());
  }
  std::map<std::string, std::string> environment;

 private:
  struct Value { uint32_t type; std::string bytes; };
  using Values = std::map<std::string, Value>;
  static std::string Path(uint32_t root, const Text& subkey, View view = View::Own);
  std::map<std::string, Values> keys_;
  std::map<Key, std::string> open_;
  Key next_ = 0x100;
  mutable std::recursive_mutex lock_;
};

// A whole native platform, owned in one place.
struct NativePlatform {
  explicit NativePlatform(std::string log_path);
  InvariantLocale locale;
  FileLog log;
  SystemClock clock;
  NoMessages pump;
  MemoryRegistry registry;
  NativeThreads threads;
  Platform platform;
};

}  // namespace ledra
