// Locks, wake-ups and threads over the Win32 API.
#include <windows.h>

#include "platform/win32/win32_parts.h"

namespace ledra::win32 {

namespace {

class SrwLock : public Lock {
 public:
  void Acquire() override { AcquireSRWLockExclusive(&l_); }
  bool TryAcquire() override { return TryAcquireSRWLockExclusive(&l_) != 0; }
  void Release() override { ReleaseSRWLockExclusive(&l_); }

 private:
  SRWLOCK l_ = SRWLOCK_INIT;
};

class EventSignal : public Signal {
 public:
  EventSignal() : e_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~EventSignal() override {
    if (e_) CloseHandle(e_);
  }
  EventSignal(const EventSignal&) = delete;
  EventSignal& operator=(const EventSignal&) = delete;
  void Set() override {
    if (e_) SetEvent(e_);
  }
  bool Wait(uint32_t max_ms) override {
    if (!e_) {
      Sleep(max_ms);
      return false;
    }
    return WaitForSingleObject(e_, max_ms) == WAIT_OBJECT_0;
  }

 private:
  HANDLE e_;
};

class Win32Thread : public Thread {
 public:
  explicit Win32Thread(HANDLE h) : h_(h) {}
  ~Win32Thread() override { CloseHandle(h_); }
  Win32Thread(const Win32Thread&) = delete;
  Win32Thread& operator=(const Win32Thread&) = delete;
  bool Join(uint32_t max_ms) override { return WaitForSingleObject(h_, max_ms) == WAIT_OBJECT_0; }

 private:
  HANDLE h_;
};

struct Started {
  std::function<void()> body;
  HMODULE module;  // this module, referenced once more for the thread's life
};

// The thread holds its own reference on the module and drops it only as it
// exits, so a host that frees the library while the thread still runs
// cannot unmap the code under it.
DWORD WINAPI ThreadMain(void* p) {
  auto* started = static_cast<Started*>(p);
  HMODULE module = started->module;
  try {
    started->body();
  } catch (...) {
  }
  delete started;
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

std::unique_ptr<Lock> Win32Threads::NewLock() { return std::make_unique<SrwLock>(); }
std::unique_ptr<Signal> Win32Threads::NewSignal() { return std::make_unique<EventSignal>(); }

std::unique_ptr<Thread> Win32Threads::Start(std::function<void()> body) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadMain), &module)) {
    return nullptr;
  }
  Started* started = nullptr;
  try {
    started = new Started{std::move(body), module};
  } catch (...) {
    FreeLibrary(module);
    return nullptr;
  }
  HANDLE h = CreateThread(nullptr, 0, ThreadMain, started, 0, nullptr);
  if (!h) {
    delete started;
    FreeLibrary(module);
    return nullptr;
  }
  try {
    return std::make_unique<Win32Thread>(h);
  } catch (...) {
    CloseHandle(h);  // the thread runs to its end on its own
    return nullptr;
  }
}

}  // namespace ledra::win32
