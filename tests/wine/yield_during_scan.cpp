// The host stays responsive while the phone number is looked up: its window
// messages (here a 5 ms timer) are processed inside a long FindContact scan.
// One of them releases the host's only reference to the Session, as a host
// that closes its line would: the running call keeps its object, answers,
// and the object goes when the call is over.
#include "client.h"

namespace {

DWORD g_last = 0;
DWORD g_longest_gap = 0;
int g_ticks = 0;
bool g_scanning = false;
_Session* g_session = nullptr;
ULONG g_left = 0;
HRESULT g_unload_inside = E_FAIL;

LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_TIMER && g_scanning) {
    DWORD now = GetTickCount();
    if (g_ticks > 0 && now - g_last > g_longest_gap) g_longest_gap = now - g_last;
    g_last = now;
    if (++g_ticks == 3) {
      g_left = g_session->Release();
      g_unload_inside = CanUnloadNow();
    }
  }
  return DefWindowProcW(w, m, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  HWND host = HostWindow(Proc);
  g_session = CreateSession();
  InitializeAndLoad(g_session, L"{DBFile=" + Wide(argv[1]) + L"\\a_sname.dbf}");
  BSTR r = nullptr;

  // A number nobody has: both tables are read to their end.
  Bstr rd(L"{Tel=09876 543210}");
  SetTimer(host, 1, 5, nullptr);
  g_scanning = true;
  g_last = GetTickCount();
  DWORD start = g_last;
  g_session->FindContact(rd.b, &r);
  DWORD elapsed = GetTickCount() - start;
  g_scanning = false;
  KillTimer(host, 1);
  std::printf("scan %lu ms, %d timer messages handled during it, longest gap %lu ms\n",
              static_cast<unsigned long>(elapsed), g_ticks, static_cast<unsigned long>(g_longest_gap));

  std::wstring answer = Take(r);
  Expect("the answer", answer.find(L"{Reason(S6)=NoFind}") != std::wstring::npos, answer);
  // The longest wait allowed is the work done between two looks at the
  // host's queue, so it grows on a slower machine; the shortest scan that
  // can be judged is set by the timer's period and does not.
  DWORD gap_limit = ScaledMs(60);
  if (gap_limit != 60) std::printf("     (longest gap allowed %lu ms at speed factor %.2f)\n",
                                   static_cast<unsigned long>(gap_limit), SpeedFactor());
  if (Expect("the scan was long enough to judge", elapsed >= 40)) {
    Expect("the host's messages were handled during the scan", g_ticks >= 3 && g_longest_gap <= gap_limit);
  }
  Expect("released inside the scan, the running call still holds the Session", g_left > 0);
  Expect("DllCanUnloadNow says no while the call runs", g_unload_inside == S_FALSE);
  bool freed = false;
  for (int i = 0; i < 50 && !freed; ++i, Sleep(100)) freed = CanUnloadNow() == S_OK;
  Expect("the Session is gone once the call is over", freed);
  DestroyWindow(host);
  CoUninitialize();
  return Finish();
}
