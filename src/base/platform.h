// The platform as the portable core sees it. Each interface is small and
// mirrors the few system calls the plug-in makes; src/platform/win32 holds
// the real ones, tests/fakes the ones the unit tests drive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace ledra {

// Local date and time as an OLE date: days since 30 Dec 1899, fraction = time.
using OleDate = double;

class Locale {
 public:
  virtual ~Locale() = default;
  // Text forms as the regional settings write them (VarBstrFromR8/R4/Date).
  virtual Text FormatDouble(double v) const = 0;
  virtual Text FormatSingle(float v) const = 0;
  virtual Text FormatDate(OleDate d) const = 0;
  // Short date, one blank, time: the log line's "ddddd ttttt".
  virtual Text FormatLogTime(OleDate d) const = 0;
  // Regional parsing; nullopt when the text is no number or no date.
  virtual std::optional<double> ParseNumber(const Text& s) const = 0;
  virtual std::optional<OleDate> ParseDate(const Text& s) const = 0;
  // Locale-aware upper case; keeps the length.
  virtual Text Upper(const Text& s) const = 0;
  // ANSI code page conversions.
  virtual std::string ToAnsi(const Text& s) const = 0;
  virtual Text FromAnsi(const std::string& s) const = 0;
  // Text of a table in the given Windows code page (0: the ANSI code page).
  // Characters the code page lacks become U+FFFD; never fails.
  virtual Text Decode(uint32_t codepage, const char* bytes, size_t n) const = 0;
};

// The error log's file. Every append opens it, writes and closes it again,
// with other writers (threads and other processes) kept out meanwhile.
class LogFile {
 public:
  // Whether a file of this size must be rolled before the bytes go in.
  using Full = std::function<bool(uint64_t size)>;

  virtual ~LogFile() = default;
  // Appends bytes (whole lines, each ended by CR LF). When full(size) says
  // so, the file is first renamed to its ".1" name beside it, replacing an
  // older one, and a new file started; never while other writers could not
  // be kept out. Failures are swallowed: a lost line has no other effect.
  virtual void Append(const std::string& bytes, const Full& full) noexcept = 0;
  // The file that lines go to now; "" where the log is no file.
  virtual Text Path() { return Text(); }
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual OleDate Now() const = 0;
  // Seconds since local midnight, single precision (the runtime's Timer).
  virtual float Timer() const = 0;
  // Milliseconds from a clock that does not restart at midnight.
  virtual uint32_t TickCount() const = 0;
  // Milliseconds from a clock that never goes back and never wraps.
  virtual uint64_t Milliseconds() const { return TickCount(); }
};

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Cheap check whether the thread has input or messages waiting.
  virtual bool HasPending() const = 0;
  // Processes the thread's pending window messages, then returns.
  virtual void DoEvents() = 0;
  // Blocks until a message arrives or max_ms pass, whichever is first: the
  // idle part of a wait, so that waiting neither freezes nor burns a core.
  virtual void WaitForMessages(uint32_t max_ms) = 0;
};

// The registry calls of advapi32, wide-character variants; results are Win32
// codes (0 success, 2 not found). Roots are the predefined keys' 32-bit
// numbers; the platform widens them to its handles.
class Registry {
 public:
  using Key = uintptr_t;
  static constexpr uint32_t kClassesRoot = 0x80000000u;
  static constexpr uint32_t kCurrentUser = 0x80000001u;
  static constexpr uint32_t kLocalMachine = 0x80000002u;
  static constexpr uint32_t kText = 1;        // REG_SZ
  static constexpr uint32_t kExpandText = 2;  // REG_EXPAND_SZ: holds %VARIABLES%
  // Which registry a key is read from on 64-bit Windows: the process's own,
  // the one 32-bit programs see (WOW6432Node) or the 64-bit one.
  enum class View { Own, Bits32, Bits64 };

  virtual ~Registry() = default;
  // RegOpenKeyExW for reading, in the view given.
  virtual long OpenKey(uint32_t root, const Text& subkey, Key* key, View view = View::Own) = 0;
  // RegQueryValueExW: copies at most *size bytes into data, sets *size. Text
  // values are UTF-16 (RegistryText reads them).
  virtual long QueryValue(Key key, const Text& name, uint32_t* type, uint8_t* data, uint32_t* size) = 0;
  virtual long CloseKey(Key key) = 0;
  virtual long DeleteKey(uint32_t root, const Text& subkey) = 0;
  // Creates the key path as needed and writes a text value (REG_SZ).
  virtual long SetText(uint32_t root, const Text& subkey, const Text& name, const Text& value) = 0;
  // ExpandEnvironmentStringsW, for REG_EXPAND_SZ values.
  virtual Text ExpandEnvironment(const Text& s) const = 0;
};

// A text value as QueryValue gives it (UTF-16), up to its first zero.
Text RegistryText(const uint8_t* data, size_t size);

// Read access to the accounting tables. Files are opened for reading with
// others free to read and write, and held only while a batch of rows is
// read, never between two calls. While a file is held, the accounting
// application's delete of it is refused rather than left pending: a table
// deleted under a reader would stay in the folder until the reader let go,
// so that the new copy a pack renames to its name is refused and the
// folder is then left without the table.
// An open file, read by one thread at a time.
class DataFile {
 public:
  virtual ~DataFile() = default;
  // Reads up to n bytes at offset; the count read (0 at the end), -1 on error.
  virtual int64_t ReadAt(uint64_t offset, void* buf, size_t n) = 0;
  // The file's current size, -1 on error.
  virtual int64_t Size() = 0;
  // When the file was last written, in 100-nanosecond units of the file
  // system's clock; -1 when unknown.
  virtual int64_t LastWriteTime() { return -1; }
  // Which file this is on its volume: another value once the path names a
  // new file (a table packed into a copy and renamed). 0 when unknown.
  virtual uint64_t Identity() { return 0; }
  // The three at once, in one request where the platform has one (a search
  // asks for them twice a call); false when the size cannot be read.
  struct Facts {
    int64_t size = -1;
    int64_t written = -1;
    uint64_t identity = 0;
  };
  virtual bool Stat(Facts* f) {
    f->size = Size();
    f->written = LastWriteTime();
    f->identity = Identity();
    return f->size >= 0;
  }
};

// Changes to the entries of one folder as the file system reports them:
// files written, resized, created, removed or renamed. Reports may come
// late (Windows reports some writes only when the writer's cache is
// flushed) and some file systems report nothing; a watch is a hint that
// saves reading, never the only way a change is seen.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  // Appends the names of the entries changed since the last call; false
  // when the watch lost track (too many changes at once, the folder went),
  // so that any entry may have changed. Never waits. One thread at a time.
  virtual bool Changes(std::vector<Text>* names) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Starts watching a folder; nullptr where it cannot be watched.
  virtual std::unique_ptr<FolderWatch> Watch(const Text& folder) {
    (void)folder;
    return nullptr;
  }
  // Opens for shared reading; nullptr with *error set when it cannot.
  virtual std::unique_ptr<DataFile> OpenShared(const Text& path, Text* error) = 0;
  // Entry names of a folder (for case-insensitive look-ups); empty on failure.
  virtual std::vector<Text> List(const Text& folder) = 0;
  // Whether the folder exists and is a folder.
  virtual bool FolderExists(const Text& folder) = 0;
  // The path of name inside folder, in the platform's own form.
  virtual Text Join(const Text& folder, const Text& name) const = 0;
  // The last-write time a file written now would get (LastWriteTime's
  // units); -1 when unknown.
  virtual int64_t FileTimeNow() const { return -1; }
};

// Threads of the plug-in's own and the small locks they share: the Windows
// runtime the DLL is built with has no std::mutex or std::thread.
class Lock {
 public:
  virtual ~Lock() = default;
  virtual void Acquire() = 0;
  virtual bool TryAcquire() = 0;
  virtual void Release() = 0;
};

// Held for a scope.
class Locked {
 public:
  explicit Locked(Lock& l) : l_(l) { l_.Acquire(); }
  ~Locked() { l_.Release(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Lock& l_;
};

// Wakes one waiting thread; a Set with nobody waiting is kept for the next
// Wait.
class Signal {
 public:
  virtual ~Signal() = default;
  virtual void Set() = 0;
  // True when set, false after max_ms.
  virtual bool Wait(uint32_t max_ms) = 0;
};

class Thread {
 public:
  // Letting go of a thread that has not ended leaves it running to its end.
  virtual ~Thread() = default;
  // Waits at most max_ms for the thread to end; true when it has.
  virtual bool Join(uint32_t max_ms) = 0;
};

class Threads {
 public:
  virtual ~Threads() = default;
  virtual std::unique_ptr<Lock> NewLock() = 0;
  virtual std::unique_ptr<Signal> NewSignal() = 0;
  // Runs body on a new thread; nullptr when none can be started. The code
  // body runs stays loaded until it returns.
  virtual std::unique_ptr<Thread> Start(std::function<void()> body) = 0;
};

// What the component's version resource says of it.
struct ModuleInfo {
  int major = 0;
  int minor = 0;
  Text comments;
  Text title;  // the fixed application name that starts every log line
};

// Interfaces of single subsystems, declared with them: the dialogs'
// (dialogs/dialog_views.h) and the screen-pop's (screenpop/desktop.h).
class Windows;
class Dialogs;
class Desktop;
class Keyboard;
class Programs;

struct Platform {
  Locale* locale = nullptr;
  LogFile* log = nullptr;
  Clock* clock = nullptr;
  MessagePump* pump = nullptr;
  Registry* registry = nullptr;
  Windows* windows = nullptr;
  FileSystem* files = nullptr;
  ModuleInfo module;
  // The screen-pop's reach into other programs (absent: nothing to drive).
  Desktop* desktop = nullptr;
  Keyboard* keyboard = nullptr;
  Programs* programs = nullptr;
  // The dialogs of Configure.
  Dialogs* dialogs = nullptr;
  // Threads and locks (absent: no work in the background, no search keys).
  Threads* threads = nullptr;
};

// The platform the core runs on, set once by the DLL, the tool or a test.
// Setting another (or none) first writes what the log owes (errors.h).
Platform& Sys();
void SetPlatform(Platform* p);

// Upper case as the platform's regional settings make it.
inline Text UCase(const Text& s) { return Sys().locale->Upper(s); }

}  // namespace ledra
