// The Win32 implementations of the platform interfaces.
#pragma once

#include <windows.h>

#include "base/platform.h"
#include "dialogs/dialog_views.h"

namespace ledra::win32 {

class Win32Locale : public Locale {
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

// "c:\fen.log", or where that cannot be opened for append (a standard user
// may not create files in c:\), %LOCALAPPDATA%\LedraII\fen.log; opened,
// appended and closed for every append, under a named mutex that all
// processes of all users take.
class Win32Log : public LogFile {
 public:
  void Append(const std::string& bytes, const Full& full) noexcept override;
  Text Path() override;
};

class Win32Clock : public Clock {
 public:
  OleDate Now() const override;
  float Timer() const override;
  uint32_t TickCount() const override;
  uint64_t Milliseconds() const override;
};

class Win32Pump : public MessagePump {
 public:
  bool HasPending() const override;
  void DoEvents() override;
  void WaitForMessages(uint32_t max_ms) override;
};

class Win32Registry : public Registry {
 public:
  long OpenKey(uint32_t root, const Text& subkey, Key* key, View view = View::Own) override;
  long QueryValue(Key key, const Text& name, uint32_t* type, uint8_t* data, uint32_t* size) override;
  long CloseKey(Key key) override;
  long DeleteKey(uint32_t root, const Text& subkey) override;
  long SetText(uint32_t root, const Text& subkey, const Text& name, const Text& value) override;
  Text ExpandEnvironment(const Text& s) const override;
};

class Win32Files : public FileSystem {
 public:
  std::unique_ptr<DataFile> OpenShared(const Text& path, Text* error) override;
  std::unique_ptr<FolderWatch> Watch(const Text& folder) override;
  std::vector<Text> List(const Text& folder) override;
  bool FolderExists(const Text& folder) override;
  Text Join(const Text& folder, const Text& name) const override;
  int64_t FileTimeNow() const override;
};

// Slim reader/writer locks, events and threads that keep the module loaded
// while they run.
class Win32Threads : public Threads {
 public:
  std::unique_ptr<Lock> NewLock() override;
  std::unique_ptr<Signal> NewSignal() override;
  std::unique_ptr<Thread> Start(std::function<void()> body) override;
};

class Win32Windows : public Windows {
 public:
  explicit Win32Windows(HMODULE module) : module_(module) {}
  std::unique_ptr<OwnerWindow> CreateOwnerWindow() override;

 private:
  HMODULE module_;
};

}  // namespace ledra::win32
