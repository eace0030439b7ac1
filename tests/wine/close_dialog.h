// Configure shows a modal dialog. For hosts that test only its answer, a
// second thread closes the dialog by its title bar, as a user who changes
// nothing does; it gives up after 10 s.
#pragma once

#include <windows.h>

inline DWORD WINAPI CloseDialogWhenShown(void*) {
  for (int i = 0; i < 200; ++i, Sleep(50)) {
    for (const wchar_t* caption : {L"LedraII Configuration", L"Kestrin Action Configuration"}) {
      HWND h = FindWindowW(nullptr, caption);
      if (h && IsWindowVisible(h)) return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
    }
  }
  return 1;
}

// Runs call (a Configure) while the dialog it opens is closed.
template <class F>
auto WithDialogClosed(F call) {
  HANDLE t = CreateThread(nullptr, 0, CloseDialogWhenShown, nullptr, 0, nullptr);
  auto r = call();
  WaitForSingleObject(t, 15000);
  CloseHandle(t);
  return r;
}
